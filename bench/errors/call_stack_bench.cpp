/* Where an exception arose: what recording its stack costs when it is
 * made, against the system's own capture of the same stack; the first
 * naming of any stack, and then of one that reaches into the C++ runtime's
 * library, whose debug information is the largest a host loads; naming a stack of ten
 * frames in modules already read; and the cost of a fault caught with its
 * stack recorded, against a C++ throw and catch at the same depth. */
#include <new>
#include <string.h>

#include <windows.h>

#include "tools/runtime.h"
#include "bench_table.h"
#include "bench_timer.h"

namespace {

using tkbench::Cell;
using tkbench::KeepBest;
using tkbench::Now;

const int kMade = 100000;
const int kNamed = 200;
const int kFaults = 100000;
const int kPasses = 5;

volatile int g_zero = 0;
volatile long g_sink;
void* volatile g_pointer;

/* A stack of about ten frames: five of these over main, and the start-up
 * frames of the runtime and the system below it. */
template <typename F>
__attribute__((noipa)) void Deeper(int depth, F& f)
{
    if (depth)
        Deeper(depth - 1, f);
    else
        f();
    g_sink = depth;
}

__attribute__((noipa)) int Divide(int a) { return a / g_zero; }

/* Throws where the C++ runtime's library calls back into the program: its
 * operator new, when an allocation fails. */
void ThrowFromNewHandler() { ThrowException(static_cast<long>(E_OUTOFMEMORY)); }

CException* MadeInsideTheRuntimeLibrary()
{
    std::new_handler previous = std::set_new_handler(ThrowFromNewHandler);
    CException* caught = nullptr;
    try {
        g_pointer = ::operator new(static_cast<size_t>(-1) / 2);
    } catch (CException* e) {
        caught = e;
    }
    std::set_new_handler(previous);
    return caught;
}

}  // namespace

int main()
{
    TkInitialize();
    char text[16384];
    bool met = true;

    /* First the program's own modules and the system's, so that the next
     * stack's first naming reads only the runtime library. Under Wine the
     * system's DLLs carry debug information of their own, which Windows'
     * do not: their reading is Wine's alone, and timed apart. */
    double own = 0;
    {
        CException here(static_cast<long>(E_FAIL));
        const double start = Now();
        here.GetCallStack(text, sizeof text);
        own = Now() - start;
    }
    tkbench::Row("First `GetCallStack` of all: the program, the C++ runtime's start and the system's DLLs read",
                 Cell("%.2f ms", own * 1e3));
    CException* inRuntime = MadeInsideTheRuntimeLibrary();
    double first = 0;
    int firstLength = 0;
    if (inRuntime) {
        const double start = Now();
        firstLength = inRuntime->GetCallStack(text, sizeof text);
        first = Now() - start;
        inRuntime->Delete();
    }
    const bool named = firstLength > 0 && strstr(text, "operator new") != nullptr;
    met &= tkbench::Row("First `GetCallStack` whose stack reaches into `libstdc++-6.dll` (its debug information "
                        "read for the first time)",
                        Cell("%.2f ms%s", first * 1e3, named ? "" : ", NO FRAME NAMED THERE"), "—", "—",
                        "≤ 30 ms", named && first <= 0.030);

    double made = 0, system = 0, stack = 0, faulted = 0, thrown = 0;
    CException* deep = nullptr;
    auto make = [&] { deep = new CException(static_cast<long>(E_FAIL)); };
    Deeper(5, make);
    void* frames[64];
    int captured = 0;
    for (int pass = 0; pass < kPasses; ++pass) {
        auto record = [&] {
            for (int i = 0; i < kMade; ++i) {
                CException e(static_cast<long>(E_FAIL));
                g_sink = e;
            }
        };
        KeepBest(made, [&] { Deeper(5, record); });
        auto capture = [&] {
            for (int i = 0; i < kMade; ++i)
                captured = RtlCaptureStackBackTrace(0, 64, frames, nullptr);
        };
        KeepBest(system, [&] { Deeper(5, capture); });
        KeepBest(stack, [&] {
            for (int i = 0; i < kNamed; ++i)
                g_sink = deep->GetCallStack(text, sizeof text);
        });
        KeepBest(faulted, [&] {
            for (int i = 0; i < kFaults / kPasses; ++i) {
                try {
                    g_sink = Divide(i);
                } catch (CRunTimeException* e) {
                    e->Delete();
                }
            }
        });
        KeepBest(thrown, [&] {
            for (int i = 0; i < kFaults / kPasses; ++i) {
                try {
                    throw static_cast<CException*>(nullptr);
                } catch (CException* e) {
                    g_pointer = e;
                }
            }
        });
    }
    int lines = 0;
    deep->GetCallStack(text, sizeof text);
    for (const char* c = text; *c; ++c)
        lines += *c == '\n';
    deep->Delete();
    TkTerminate();

    const double perMade = made / kMade * 1e6, perCapture = system / kMade * 1e6;
    const double limit = sizeof(void*) == 8 ? 1.0 : 3.0;
    met &= tkbench::Row(Cell("Making an exception, its stack of %d frames recorded (a throw helper's cost of it)", lines),
                        Cell("%.2f µs", perMade),
                        Cell("the system's `RtlCaptureStackBackTrace` of the same stack, %.2f µs (%d frames found)",
                             perCapture, captured),
                        Cell("%.1fx the time", perMade / perCapture), Cell("≤ %.0f µs", limit),
                        perMade <= limit);
    const double perStack = stack / kNamed * 1e6;
    met &= tkbench::Row(Cell("`GetCallStack` of a stack of %d frames, modules already read", lines),
                        Cell("%.1f µs", perStack), "—", "—", "≤ 50 µs", perStack <= 50);
    tkbench::Row("A fault caught, its stack recorded at the fault, 100,000 in all",
                 Cell("%.2f µs", faulted / (kFaults / kPasses) * 1e6),
                 Cell("a C++ throw and catch of a pointer, %.2f µs", thrown / (kFaults / kPasses) * 1e6));
    return met ? 0 : 1;
}
