/* The millisecond clock against the bare counter it reads, the busy
 * delay's pace, and the text of a fault with and without its source-line
 * step: the debug-help library's restart, then its lookup (DWARF 4 code)
 * or, where it finds nothing, the module's own line tables (plain -g). */
#include <windows.h>

#include "tools/runtime.h"
#include "bench_table.h"
#include "bench_timer.h"
#include "dwarf4_fault.h"

namespace {

const int kReads = 1000000;
const int kTexts = 20;
const int kPasses = 5;

using tkbench::Now;

volatile unsigned long g_sink;

/* Seconds for count calls of f, the best of those tried so far. */
template <typename F>
void Time(double& best, int count, F f)
{
    double start = Now();
    for (int i = 0; i < count; ++i)
        f();
    double seconds = Now() - start;
    if (best == 0 || seconds < best)
        best = seconds;
}

volatile int g_zero = 0;
__attribute__((noinline)) int Divide(int a) { return a / g_zero; }

}  // namespace

int main()
{
    TkInitialize();
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const LONGLONG perMs = frequency.QuadPart / 1000;

    double ours = 0, bare = 0, delay = 0, located = 0, helped = 0, plain = 0;
    CRunTimeException* fault = nullptr;
    CRunTimeException* dwarf4 = nullptr;
    try {
        g_sink = static_cast<unsigned long>(Divide(7));
    } catch (CRunTimeException* e) {
        fault = e;
    }
    try {
        g_sink = static_cast<unsigned long>(DivideInDwarf4(7));
    } catch (CRunTimeException* e) {
        dwarf4 = e;
    }
    CException thrown(static_cast<long>(0xC0000094));
    char text[512];
    for (int pass = 0; pass < kPasses; ++pass) {
        Time(ours, kReads, [] { g_sink = TkGetTickCount(); });
        Time(bare, kReads, [&] {
            LARGE_INTEGER count;
            QueryPerformanceCounter(&count);
            g_sink = static_cast<unsigned long>(count.QuadPart / perMs);
        });
        Time(delay, 1, [] { TkDelay(); });
        if (fault)
            Time(located, kTexts, [&] { g_sink = fault->GetErrorMessage(text, sizeof text); });
        if (dwarf4)
            Time(helped, kTexts, [&] { g_sink = dwarf4->GetErrorMessage(text, sizeof text); });
        Time(plain, kTexts, [&] { g_sink = thrown.GetErrorMessage(text, sizeof text); });
    }
    const bool foundBoth = fault && dwarf4 && fault->m_nLine > 0 && dwarf4->m_nLine > 0;
    if (fault)
        fault->Delete();
    if (dwarf4)
        dwarf4->Delete();
    TkTerminate();

    const double ratio = ours / bare;
    bool met = tkbench::Row("`TkGetTickCount`", tkbench::Cell("%.1f ns", ours / kReads * 1e9),
                            tkbench::Cell("bare `QueryPerformanceCounter` + division, %.1f ns", bare / kReads * 1e9),
                            tkbench::Cell("%.2fx the time", ratio), "≤ 1.1x", ratio <= 1.1);
    tkbench::Row("`TkDelay`", tkbench::Cell("%.0f ns a CPUID pass (%.0f ms)", delay / 200000 * 1e9, delay * 1e3));
    tkbench::Row("`GetErrorMessage`, a fault with its source-line step: the debug-help library's restart, "
                 "which finds the line (DWARF 4)",
                 tkbench::Cell("%.1f ms", helped / kTexts * 1e3));
    tkbench::Row("`GetErrorMessage`, a fault with its source-line step: the restart, and the module's own "
                 "line tables (plain -g)",
                 tkbench::Cell("%.1f ms%s", located / kTexts * 1e3, foundBoth ? "" : ", NO LINE FOUND"),
                 tkbench::Cell("the DWARF 4 fault's, %.1f ms", helped / kTexts * 1e3));
    tkbench::Row("`GetErrorMessage`, the same code thrown by code (no step)",
                 tkbench::Cell("%.1f us", plain / kTexts * 1e6));
    return met ? 0 : 1;
}
