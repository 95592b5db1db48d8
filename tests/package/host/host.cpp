/* A host of the installed tools package: uses each service once through
 * the public headers and tools.dll, prints one line per check, and exits
 * with the number of failed checks (0 when all passed). */
#include <cstdio>
#include <cstring>

#include <windows.h>

#include "tools/component.h"
#include "tools/graph.h"
#include "tools/profile.h"
#include "tools/runtime.h"
#include "tools/util.h"

#include "counter.h"

namespace {

int g_failures;

void Check(bool ok, const char* what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    std::fflush(stdout);
    if (!ok)
        ++g_failures;
}

volatile int g_zero = 0;
int* volatile g_nowhere = nullptr;

void Exceptions()
{
    long code = 0;
    try {
        ThrowException(static_cast<long>(E_INVALIDARG), __FILE__, __LINE__);
    } catch (CException* e) {
        code = *e;
        Check(e->m_nLine > 0 && e->m_pszFile && std::strstr(e->m_pszFile, "host.cpp"),
              "a thrown CException* carries its source location");
        e->Delete();
    }
    Check(code == E_INVALIDARG, "ThrowException is caught as CException* with its code");

    bool caught = false;
    try {
        ThrowNotImplementedException();
    } catch (CNotImplementedException* e) {
        caught = *e == E_NOTIMPL;
        e->Delete();
    }
    Check(caught, "ThrowNotImplementedException is caught as CNotImplementedException*");
}

/* Both faults are caught in this very function: tools::tools builds the
 * host with -fnon-call-exceptions. The program is built with plain -g and
 * shipped stripped, its debug information in symbols/ beside it. */
void Faults()
{
    long code = 0;
    char text[256] = "";
    const char* file = nullptr;
    int line = -1;
    const int divisionLine = __LINE__ + 2;
    try {
        int quotient = 10 / g_zero;
        std::printf("quotient %d\n", quotient);
    } catch (CRunTimeException* e) {
        code = *e;
        e->GetErrorMessage(text, sizeof text);
        file = e->m_pszFile;
        line = e->m_nLine;
        e->Delete();
    }
    Check(code == static_cast<long>(EXCEPTION_INT_DIVIDE_BY_ZERO), "a division by zero is caught as CRunTimeException*");
    Check(std::strstr(text, "divide") != nullptr, "the fault's text names the division");
    std::printf("the fault's source line: %s(%d)\n", file ? file : "none", line);
    Check(file && std::strstr(file, "host.cpp") && line == divisionLine,
          "the fault's text finds its source line in the stripped program's debug file");

    code = 0;
    try {
        *g_nowhere = 1;
    } catch (CException* e) {
        code = *e;
        e->Delete();
    }
    Check(code == static_cast<long>(EXCEPTION_ACCESS_VIOLATION), "a write to address 0 is caught as CException*");
}

void Profile()
{
    CProfile profile("tools_host.ini");
    const char* name = std::strrchr(profile.Path(), '\\');
    Check(name && std::strcmp(name, "\\tools_host.ini") == 0, "the settings file lies beside the program");
    profile.Open("host");
    Check(profile.SetValue(42, "rounds") == S_OK, "CProfile writes an integer");
    Check(profile.SetValue(1.5f, "delay") == S_OK, "CProfile writes a real");
    Check(profile.SetValue("blue", "colour") == S_OK, "CProfile writes a text");
    int rounds = 0;
    float delay = 0;
    char colour[16] = "";
    unsigned long size = sizeof colour;
    CProfile reader("tools_host.ini");
    reader.Open("host");
    reader.QueryValue(rounds, "rounds");
    reader.QueryValue(delay, "delay");
    reader.QueryValue(colour, "colour", &size);
    Check(rounds == 42 && delay == 1.5f && std::strcmp(colour, "blue") == 0 && size == 4,
          "CProfile reads the values back");
}

void Pump(DWORD ms)
{
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    } while (GetTickCount() - start < ms);
}

void Graph()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "ToolsHost";
    RegisterClassA(&wc);
    /* Under a slow, loaded machine Wine's desktop process, which the first
     * window starts, may come up too late for it: try again a few times. */
    HWND parent = nullptr;
    for (int attempt = 0; !parent && attempt < 5; ++attempt) {
        if (attempt) {
            std::printf("no window (error %lu); trying again\n", GetLastError());
            Sleep(2000);
        }
        parent = CreateWindowA("ToolsHost", "tools host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 500, 400, nullptr,
                               nullptr, wc.hInstance, nullptr);
    }
    HWND chart = parent ? CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE | SS_BITMAP, 0, 0, 400, 300, parent,
                                        nullptr, wc.hInstance, nullptr)
                        : nullptr;
    if (!chart)
        std::printf("no window (error %lu)\n", GetLastError());
    Check(chart != nullptr, "a window for the graph (needs a display)");
    if (!chart)
        return;
    Pump(50);
    {
        CGraph graph(1, nullptr);
        Check(graph.Attach(chart) == S_OK, "CGraph attaches to a static control");
        Check(graph.SetUnit(2) == S_OK, "CGraph takes a step");
        bool added = true;
        for (int n = 0; n < 200; ++n) {
            int sample = 50;
            added = added && graph.Add(&sample) == S_OK;
        }
        Check(added, "CGraph takes samples");
        Pump(550);
        Check(graph.Draw() == S_OK, "CGraph draws");
        int green = 0;
        HDC dc = GetDC(chart);
        for (int row = 0; row < 300; ++row)
            green += GetPixel(dc, 200, row) == RGB(0, 255, 0);
        ReleaseDC(chart, dc);
        Check(green > 0, "the graph's line shows in the window");
    }
    DestroyWindow(parent);
}

void Util()
{
    const unsigned char digits[] = "123456789";
    Check(crc32(0, digits, 9) == 0xCBF43926ul, "crc32 of \"123456789\"");
    Check(adler32(1, digits, 9) == 0x091E01DEul, "adler32 of \"123456789\"");
    const char* text = "Benchmark Results";
    Check(TkStrStr(text, "RESULTS") == text + 10, "TkStrStr finds a key regardless of case");
    Check(TkLog("%d items\n", 3) == 8, "TkLog appends to vq_tools.log");
}

void Component()
{
    ICounter* counter = nullptr;
    HRESULT hr = NoRegCoCreate("host_component.dll", kCounterClass, kCounterId, reinterpret_cast<void**>(&counter));
    Check(hr == S_OK && counter, "NoRegCoCreate creates the host's component");
    if (!counter)
        return;
    LONG total = 0;
    counter->Add(2, &total);
    counter->Add(3, &total);
    Check(total == 5, "the component's object works");
    counter->Release();
}

}  // namespace

int main()
{
    TkInitialize();
    Exceptions();
    Faults();
    Profile();
    Graph();
    Util();
    Component();
    TkTerminate();
    if (g_failures)
        std::printf("%d check(s) FAILED\n", g_failures);
    else
        std::printf("all checks passed\n");
    return g_failures;
}
