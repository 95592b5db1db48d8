/* crash_faults.h -- the functions whose faults the crash children end in,
 * with their lines, for crash_report_test to find in a report: the test
 * may run where the sources are not. */
#ifndef TOOLS_TESTS_CRASH_FAULTS_H
#define TOOLS_TESTS_CRASH_FAULTS_H

#include <stdint.h>
#include <windows.h>

#include "tools/runtime.h"

namespace crashtest {

const char kFile[] = "crash_faults.h";

const int kNullWriteLine = __LINE__ + 3;
__attribute__((noipa)) inline void WriteThroughNull(uintptr_t target)
{
    *reinterpret_cast<volatile int*>(target) = 1;
}

/* Frames of two pages: the stack probe that meets the stack's end leaves
 * the system room to raise the overflow. Under Wine, an overflow met with
 * less than about 4 KB left is never raised at all: Wine ends the thread,
 * and the process only when it was the last. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
const int kRecurseLine = __LINE__ + 5;
__attribute__((noipa)) inline int Recurse(int n)
{
    volatile char pad[8192];
    pad[0] = static_cast<char>(n);
    return Recurse(n + 1) + pad[0];
}
#pragma GCC diagnostic pop

const int kThrowLine = __LINE__ + 3;
__attribute__((noipa)) inline void ThrowUncaught()
{
    ThrowException(E_INVALIDARG, __FILE__, __LINE__);
}

inline volatile int g_zero = 0;

const int kDivideLine = __LINE__ + 3;
__attribute__((noipa)) inline int DivideByZero(int n)
{
    return n / g_zero;
}

/* A thread that waits until the process ends, for the reports' other
 * threads. */
inline volatile long g_waiting;

__attribute__((noipa)) inline DWORD WINAPI WaitForever(void*)
{
    g_waiting = 1;
    Sleep(INFINITE);
    return 0;
}

}  // namespace crashtest

#endif
