/* The busy delays and the process's clock, through tools.dll. */
#include <gtest/gtest.h>

#include <limits.h>
#include <windows.h>

#include "tools/runtime.h"

namespace {

volatile long g_shared;

DWORD WINAPI IncrementShared(void*)
{
    TkDelayInc(&g_shared);
    return 0;
}

TEST(TkDelayInc, EightThreadsOnOneCounterEndExactly1600000Higher)
{
    g_shared = 17;
    HANDLE threads[8];
    for (HANDLE& t : threads)
        t = CreateThread(nullptr, 0, IncrementShared, nullptr, 0, nullptr);
    WaitForMultipleObjects(8, threads, TRUE, INFINITE);
    for (HANDLE t : threads)
        CloseHandle(t);
    EXPECT_EQ(g_shared, 17 + 1600000);
}

TEST(TkDelayInc, WrapsPastTheLargestIntWithoutAnyCheck)
{
    volatile long counter = LONG_MAX - 5;
    TkDelayInc(&counter);
    EXPECT_EQ(counter, static_cast<long>(static_cast<unsigned long>(LONG_MAX - 5) + 200000u));
    EXPECT_LT(counter, 0);
}

TEST(TkGetTickCount, FollowsTheSystemsMilliseconds)
{
    unsigned long first = TkGetTickCount();
    EXPECT_NE(first, 0u) << "the first call already reads a calibrated clock";
    DWORD systemStart = GetTickCount();
    Sleep(200);
    unsigned long elapsed = TkGetTickCount() - first;
    DWORD systemElapsed = GetTickCount() - systemStart;
    EXPECT_GE(elapsed + 20, systemElapsed);
    EXPECT_LE(elapsed, systemElapsed + 20);
}

TEST(TkDelay, TakesTimeAndReturns)
{
    unsigned long start = TkGetTickCount();
    TkDelay();
    EXPECT_GE(TkGetTickCount() - start, 1u) << "200,000 serialising instructions take at least a millisecond";
    TkDelayInc(nullptr);   /* no counter: returns, rather than faulting */
}

}  // namespace
