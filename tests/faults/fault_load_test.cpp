/* A hundred thousand faults on one thread, through tools.dll as a host
 * uses it: each caught and deleted, and the process no bigger, its last
 * error and its translator as they were. */
#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>

#include "tools/runtime.h"
#include "support/fault_makers.h"
#include "support/process_usage.h"

namespace {


/* 1 when the fault came as a CRunTimeException* with the expected code. */
int Fault(int n)
{
    const DWORD expected = n % 2 ? EXCEPTION_INT_DIVIDE_BY_ZERO : EXCEPTION_ACCESS_VIOLATION;
    try {
        if (n % 2)
            tktest::Divide(n, tktest::g_zero);
        else
            tktest::ReadAt(static_cast<uintptr_t>(n % 4096) * 4);
    } catch (CRunTimeException* e) {
        const bool right = e->m_pExceptionPointers->ExceptionRecord->ExceptionCode == expected;
        e->Delete();
        return right;
    }
    return 0;
}

TEST(FaultLoad, AHundredThousandFaultsLeaveTheProcessAsItWas)
{
    TkInitialize();
    int caught = 0;
    for (int n = 0; n < 1000; ++n)
        caught += Fault(n);
    const SIZE_T settled = tktest::PrivateBytes();
    ASSERT_NE(settled, 0u) << "the platform tells no private bytes";
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    SetLastError(4321);
    for (int n = 1000; n < 100000; ++n)
        caught += Fault(n);
    QueryPerformanceCounter(&end);
    EXPECT_EQ(GetLastError(), 4321u) << "the faults left the last error alone";
    EXPECT_EQ(caught, 100000);
    const SIZE_T after = tktest::PrivateBytes();
    EXPECT_LE(after, settled + 1024 * 1024) << "private bytes grew from " << settled << " to " << after;
    printf("private bytes after 1,000 faults %lu, after 100,000 %lu\n", static_cast<unsigned long>(settled),
           static_cast<unsigned long>(after));
    printf("%.2f us a fault\n", 1e6 * static_cast<double>(end.QuadPart - start.QuadPart) /
                                      static_cast<double>(frequency.QuadPart) / 99000);
    EXPECT_EQ(Fault(1), 1) << "the translator is still in place";
    TkTerminate();
}

}  // namespace
