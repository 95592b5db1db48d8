/* What the fault translator costs the exceptions it does not translate: a
 * host's own C++ throw, a fault that a system function handles itself, a
 * fault that a host's vectored handler registered first takes, and a fault
 * that no catch awaits, taken by a host's handler after the translator's
 * or by the host's unhandled-exception filter.
 * Each without TkInitialize first, then with it, in one run. Under the
 * last, the same fault 50 frames deeper gives the walk's cost a frame. */
#include <windows.h>

#include <stdexcept>

#include "tools/runtime.h"
#include "bench_table.h"
#include "bench_timer.h"

namespace {

const int kRounds = 2000;
const int kPasses = 5;
const int kDeeper = 50;

volatile int g_sink;

/* A page whose every touch faults until its guard is set again. */
volatile int* g_guarded;

__attribute__((noinline)) void TouchGuarded(int depth)
{
    if (depth > 0) {
        TouchGuarded(depth - 1);
        g_sink = g_sink + 1;
        return;
    }
    g_sink = *g_guarded;
}

LONG CALLBACK TakeGuardPage(EXCEPTION_POINTERS* p)
{
    return p->ExceptionRecord->ExceptionCode == STATUS_GUARD_PAGE_VIOLATION ? EXCEPTION_CONTINUE_EXECUTION
                                                                           : EXCEPTION_CONTINUE_SEARCH;
}

void GuardedTouch(int depth)
{
    DWORD old;
    VirtualProtect(const_cast<int*>(g_guarded), 4096, PAGE_READWRITE | PAGE_GUARD, &old);
    TouchGuarded(depth);
}

LONG WINAPI FilterGuardPage(EXCEPTION_POINTERS* p) { return TakeGuardPage(p); }

struct Costs {
    double thrown = 0, systems = 0, first = 0, last = 0, lastDeep = 0, filtered = 0, filteredDeep = 0;
};

/* Seconds for one of each, the best of the passes. */
void Measure(Costs* costs)
{
    for (int pass = 0; pass < kPasses; ++pass) {
        tkbench::KeepBest(costs->thrown, [] {
            for (int i = 0; i < kRounds; ++i) {
                try {
                    throw std::runtime_error("the host's own");
                } catch (const std::runtime_error&) {
                    ++g_sink;
                }
            }
        });
        tkbench::KeepBest(costs->systems, [] {
            for (int i = 0; i < kRounds; ++i)
                g_sink = IsBadReadPtr(reinterpret_cast<void*>(16), 4);
        });
    }
    /* A handler at the front of the list, as one registered before
     * TkInitialize is. */
    PVOID front = AddVectoredExceptionHandler(1, TakeGuardPage);
    for (int pass = 0; pass < kPasses; ++pass)
        tkbench::KeepBest(costs->first, [] {
            for (int i = 0; i < kRounds; ++i)
                GuardedTouch(0);
        });
    RemoveVectoredExceptionHandler(front);
    /* At the end of the list, after the translator's. */
    PVOID last = AddVectoredExceptionHandler(0, TakeGuardPage);
    for (int pass = 0; pass < kPasses; ++pass) {
        tkbench::KeepBest(costs->last, [] {
            for (int i = 0; i < kRounds; ++i)
                GuardedTouch(0);
        });
        tkbench::KeepBest(costs->lastDeep, [] {
            for (int i = 0; i < kRounds; ++i)
                GuardedTouch(kDeeper);
        });
    }
    RemoveVectoredExceptionHandler(last);
    /* None: the filter, installed before TkInitialize, takes it. */
    for (int pass = 0; pass < kPasses; ++pass) {
        tkbench::KeepBest(costs->filtered, [] {
            for (int i = 0; i < kRounds; ++i)
                GuardedTouch(0);
        });
        tkbench::KeepBest(costs->filteredDeep, [] {
            for (int i = 0; i < kRounds; ++i)
                GuardedTouch(kDeeper);
        });
    }
}

std::string Us(double seconds) { return tkbench::Cell("%.2f us", seconds / kRounds * 1e6); }

}  // namespace

int main()
{
    g_guarded = static_cast<volatile int*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    SetUnhandledExceptionFilter(FilterGuardPage);
    Costs without, with;
    Measure(&without);
    TkInitialize();
    Measure(&with);
    TkTerminate();
    const std::string target = tkbench::Target();
    const auto row = [&](const char* what, double withTime, double withoutTime) {
        tkbench::Row(what + std::string(", with `TkInitialize` (") + target + ")", Us(withTime),
                     "without, " + Us(withoutTime));
    };
    row("A host's own C++ throw and catch", with.thrown, without.thrown);
    row("A fault that a system function handles itself (`IsBadReadPtr`)", with.systems, without.systems);
    row("A fault that the host's vectored handler at the front of the list takes", with.first, without.first);
    row("A fault that no catch awaits, taken by the host's vectored handler at the end of the list", with.last,
        without.last);
    row("The same, 50 frames deeper", with.lastDeep, without.lastDeep);
    row("A fault that no catch awaits, taken by the host's unhandled-exception filter installed before",
        with.filtered, without.filtered);
    row("The same, 50 frames deeper", with.filteredDeep, without.filteredDeep);
    tkbench::Row(std::string("The translator's walk, a frame (") + target + ")",
                 tkbench::Cell("%.0f ns", ((with.lastDeep - without.lastDeep) - (with.last - without.last)) /
                                              kRounds / kDeeper * 1e9));
    return 0;
}
