/* NoRegCoCreate of an object from a library that is already loaded,
 * against the same steps done directly: LoadLibraryA, GetProcAddress,
 * DllGetClassObject, CreateInstance and the factory's Release. Both keep
 * one load per object, as NoRegCoCreate does, and give them all back at the
 * end. */
#include <stdio.h>

#include <windows.h>
#include <unknwn.h>

#include "bench_table.h"
#include "bench_timer.h"
#include "tools/component.h"
#include "tools/runtime.h"
#include "support/test_component.h"

namespace {

using namespace testcomponent;

const int kCreations = 20000;
const int kRounds = 3;

using tkbench::Now;

typedef HRESULT (STDAPICALLTYPE* GetClassObjectFn)(REFCLSID, REFIID, void**);

HRESULT Direct(void** out)
{
    HMODULE library = LoadLibraryA(kFileName);
    if (!library)
        return E_FAIL;
    GetClassObjectFn get =
        reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    HRESULT hr = get ? get(kCounterClass, IID_IClassFactory, reinterpret_cast<void**>(&factory)) : E_FAIL;
    if (FAILED(hr))
        return hr;
    hr = factory->CreateInstance(nullptr, kCounterId, out);
    factory->Release();
    return hr;
}

/* Seconds for kCreations objects made by create and released at once, the
 * best of those tried so far; false when a creation failed. */
template <typename F>
bool Time(double& best, F create)
{
    double start = Now();
    for (int i = 0; i < kCreations; ++i) {
        ICounter* counter = nullptr;
        if (FAILED(create(reinterpret_cast<void**>(&counter))))
            return false;
        counter->Release();
    }
    double seconds = Now() - start;
    if (best == 0 || seconds < best)
        best = seconds;
    return true;
}

}  // namespace

int main()
{
    HMODULE kept = LoadLibraryA(kFileName);
    if (!kept) {
        printf("cannot load %s\n", kFileName);
        return 1;
    }
    double ours = 0, direct = 0;
    for (int round = 0; round < kRounds; ++round) {
        bool made = Time(ours, [](void** out) { return NoRegCoCreate(kFileName, kCounterClass, kCounterId, out); });
        TkTerminate();
        made = Time(direct, Direct) && made;
        for (int i = 0; i < kCreations; ++i)
            FreeLibrary(kept);
        if (!made) {
            printf("a creation failed\n");
            return 1;
        }
    }
    FreeLibrary(kept);

    const double ratio = direct / ours;   /* objects a second of ours over those of the direct calls */
    bool met = tkbench::Row("`NoRegCoCreate`, library loaded", tkbench::Cell("%.0f objects/s", kCreations / ours),
                            tkbench::Cell("`DllGetClassObject` + `CreateInstance`, %.0f objects/s",
                                          kCreations / direct),
                            tkbench::Cell("%.3f", ratio), "≥ 0.95", ratio >= 0.95);
    return met ? 0 : 1;
}
