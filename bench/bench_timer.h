/* bench_timer.h -- the one clock of the benchmarks, and the name of the
 * target they were built for, which heads every table. */
#ifndef TOOLS_BENCH_TIMER_H
#define TOOLS_BENCH_TIMER_H

#include <windows.h>

namespace tkbench {

/* Seconds on the performance counter, read directly: the benchmarks time
 * the library, so they do not time it with its own clock. */
inline double Now()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

/* Runs f once and keeps in best the shortest of the times seen so far, in
 * seconds (0: none yet). */
template <typename F>
void KeepBest(double& best, F f)
{
    const double start = Now();
    f();
    const double seconds = Now() - start;
    if (best == 0 || seconds < best)
        best = seconds;
}

/* Figures of the two targets differ; a table says which one it shows. */
inline const char* Target() { return sizeof(void*) == 8 ? "x86_64" : "i686"; }

}  // namespace tkbench

#endif
