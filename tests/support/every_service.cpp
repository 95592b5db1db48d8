/* every_service.cpp -- a library that uses every service of tools.dll but
 * the busy delays once, for the test that loads and frees tools.dll a
 * hundred times: loading this library loads tools.dll with it, and freeing
 * it frees tools.dll. */
#include <windows.h>
#include <unknwn.h>

#include <string.h>

#include "tools/component.h"
#include "tools/graph.h"
#include "tools/profile.h"
#include "tools/runtime.h"
#include "tools/util.h"
#include "support/test_component.h"

namespace {

/* Each service that misbehaves sets its bit; 0 means all went well. */
enum Service {
    kExceptions = 1, kClock = 2, kChecksums = 4, kText = 8, kLog = 16, kProfile = 32, kGraph = 64, kComponent = 128
};

int UseExceptions()
{
    try {
        ThrowException(E_OUTOFMEMORY, __FILE__, __LINE__);
    } catch (CException* e) {
        char text[256];
        const bool ok = *e == E_OUTOFMEMORY && e->GetErrorMessage(text, sizeof text) > 0 && e->m_nLine > 0;
        e->Delete();
        if (!ok)
            return kExceptions;
    }
    try {
        ThrowMemoryException();
    } catch (CMemoryException* e) {
        e->Delete();
        return 0;
    }
    return kExceptions;
}

/* The busy delays hold nothing that could leak, and their 200,000
 * serialising instructions take a third of a second on a virtual machine:
 * they are left out. */
int UseClock()
{
    return TkGetTickCount() != 0 && TkGetCookie() != 0 ? 0 : kClock;
}

int UseChecksumsTextAndLog()
{
    const unsigned char data[] = "tools";
    int failed = 0;
    if (adler32(1, data, 5) != 0x069D0232u || crc32(0, data, 5) == 0)
        failed |= kChecksums;
    const char path[] = "C:\\Bench\\Velquor\\cpu.cpp";
    if (TkStrStr(path, "velquor") != path + 9)
        failed |= kText;
    if (TkLog("round %d\n", 1) == 0)
        failed |= kLog;
    return failed;
}

int UseProfile(const char* fileName)
{
    CProfile profile(fileName);
    int value = 0;
    char text[16];
    unsigned long size = sizeof text;
    const bool ok = profile.Open("Unload") == S_OK && profile.SetValue(41, "n") == S_OK &&
        profile.QueryValue(value, "n") == S_OK && value == 41 && profile.SetValue("x", "t") == S_OK &&
        profile.QueryValue(text, "t", &size) == S_OK && strcmp(text, "x") == 0;
    return ok ? 0 : kProfile;
}

int UseGraph()
{
    HWND chart = CreateWindowA("STATIC", "", WS_POPUP | SS_BITMAP, 0, 0, 200, 100, nullptr, nullptr, nullptr,
                               nullptr);
    if (!chart)
        return kGraph;
    bool ok;
    {
        CGraph graph(2, nullptr);
        int samples[2] = { 10, 200 };
        ok = graph.Attach(chart) == S_OK && graph.SetUnit(2) == S_OK && graph.Add(samples) == S_OK &&
            samples[1] == 100;
        CClientDC dc(chart);
        ok = ok && graph.DrawGrid(dc) == S_OK;
    }
    DestroyWindow(chart);
    return ok ? 0 : kGraph;
}

int UseComponent(const char* componentPath)
{
    IUnknown* object = nullptr;
    if (FAILED(NoRegCoCreate(componentPath, testcomponent::kCounterClass, testcomponent::kCounterId,
                             reinterpret_cast<void**>(&object))) ||
        !object)
        return kComponent;
    object->Release();
    return 0;
}

}  // namespace

/* Uses every service; the profile lives in profileName beside tools.dll's
 * host, the component comes from componentPath. Returns the bits of the
 * services that misbehaved. */
extern "C" __declspec(dllexport) int UseEveryService(const char* profileName, const char* componentPath)
{
    return UseExceptions() | UseClock() | UseChecksumsTextAndLog() | UseProfile(profileName) |
        UseGraph() | UseComponent(componentPath);
}
