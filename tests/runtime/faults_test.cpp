/* Processor faults turned into CRunTimeException on the thread that called
 * TkInitialize, through tools.dll as a host uses it. */
#include <gtest/gtest.h>

#include <windows.h>

#include "tools/runtime.h"
#include "support/child_process.h"
#include "fault_plain.h"

namespace {

class Faults : public ::testing::Test {
protected:
    static void SetUpTestSuite() { TkInitialize(); }
    static void TearDownTestSuite() { TkTerminate(); }
};

/* Kept out of line and opaque to the optimiser, so the faults happen where
 * the tests say. */
volatile int g_zero = 0;
__attribute__((noinline)) int Divide(int a, int b) { return a / b; }
__attribute__((noinline)) int ReadAt(uintptr_t address) { return *reinterpret_cast<volatile int*>(address); }
__attribute__((noinline)) void WriteAt(uintptr_t address) { *reinterpret_cast<volatile int*>(address) = 1; }

bool RunningUnderWine()
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

__attribute__((noinline)) int Deep(int depth)
{
    if (depth == 0)
        return Divide(1, g_zero);
    return Deep(depth - 1) + 1;
}

TEST_F(Faults, DivisionByZeroIsCaughtAsCException)
{
    CException* caught = nullptr;
    try {
        Divide(1, g_zero);
    } catch (CException* e) {
        caught = e;
    }
    ASSERT_NE(caught, nullptr);
    EXPECT_EQ(static_cast<long>(*caught), static_cast<long>(0xC0000094));
    EXPECT_FALSE(caught->m_bStatic);
    ASSERT_NE(caught->m_pExceptionPointers, nullptr);
    EXPECT_EQ(caught->m_pExceptionPointers->ExceptionRecord->ExceptionCode, 0xC0000094u);
    EXPECT_NE(dynamic_cast<CRunTimeException*>(caught), nullptr);
    caught->Delete();
}

TEST_F(Faults, FaultInTheCatchingFunctionItself)
{
    long code = 0;
    try {
        int quotient = 10 / g_zero;
        ADD_FAILURE() << "no fault, quotient " << quotient;
    } catch (CRunTimeException* e) {
        code = *e;
        e->Delete();
    }
    EXPECT_EQ(code, static_cast<long>(0xC0000094));
}

TEST_F(Faults, CallerCatchesAFaultInCodeBuiltWithoutNonCallExceptions)
{
    int caught = 0;
    try {
        PlainDivide(7);
    } catch (CRunTimeException* e) {
        caught += static_cast<long>(*e) == static_cast<long>(0xC0000094);
        e->Delete();
    }
    try {
        PlainReadThrough(nullptr);
    } catch (CRunTimeException* e) {
        caught += static_cast<long>(*e) == static_cast<long>(0xC0000005);
        e->Delete();
    }
    EXPECT_EQ(caught, 2);
}

TEST_F(Faults, AccessViolationsKeepTheAccessKindAndAddress)
{
    CRunTimeException* read = nullptr;
    try {
        ReadAt(0);
    } catch (CRunTimeException* e) {
        read = e;
    }
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(static_cast<long>(*read), static_cast<long>(0xC0000005));
    const EXCEPTION_RECORD* r = read->m_pExceptionPointers->ExceptionRecord;
    EXPECT_EQ(r->ExceptionInformation[0], 0u) << "read";
    EXPECT_EQ(r->ExceptionInformation[1], 0u);

    CRunTimeException* write = nullptr;
    try {
        WriteAt(0x1234ABCD);
    } catch (CRunTimeException* e) {
        write = e;
    }
    ASSERT_NE(write, nullptr);
    r = write->m_pExceptionPointers->ExceptionRecord;
    EXPECT_EQ(r->ExceptionInformation[0], 1u) << "write";
    EXPECT_EQ(r->ExceptionInformation[1], 0x1234ABCDu);
    /* The first record is untouched by the second fault: each exception owns
     * its copy. */
    EXPECT_EQ(read->m_pExceptionPointers->ExceptionRecord->ExceptionInformation[0], 0u);
    const char* at = static_cast<const char*>(read->m_pExceptionPointers->ExceptionRecord->ExceptionAddress);
    const char* readAt = reinterpret_cast<const char*>(&ReadAt);
    EXPECT_TRUE(at >= readAt && at < readAt + 64) << "the fault happened inside ReadAt";
    read->Delete();
    write->Delete();

    /* On x86_64 a bad address above 4 GiB is kept whole; on i686 the same
     * bits name an address below 4 GiB. */
    const uintptr_t high = static_cast<uintptr_t>(0x00007EDC00004560ull);
    try {
        WriteAt(high);
        ADD_FAILURE() << "no fault";
    } catch (CRunTimeException* e) {
        r = e->m_pExceptionPointers->ExceptionRecord;
        EXPECT_EQ(r->ExceptionInformation[0], 1u);
        EXPECT_EQ(r->ExceptionInformation[1], high);
        e->Delete();
    }
}

TEST_F(Faults, DeepFaultUnwindsToTheOuterHandler)
{
    volatile int after = 0;
    try {
        Deep(300);
        after = 1;
    } catch (CRunTimeException* e) {
        EXPECT_EQ(static_cast<long>(*e), static_cast<long>(0xC0000094));
        e->Delete();
        after = 2;
    }
    EXPECT_EQ(after, 2);
}

TEST_F(Faults, AThousandFaultsInARowLeaveTheProcessHealthy)
{
    int caught = 0;
    for (int i = 0; i < 1000; ++i) {
        try {
            if (i % 2)
                Divide(i, g_zero);
            else
                ReadAt(static_cast<uintptr_t>(i) * 4);
        } catch (CRunTimeException* e) {
            ++caught;
            e->Delete();
        }
    }
    EXPECT_EQ(caught, 1000);
    EXPECT_EQ(Divide(42, 6), 7);
    /* The faults left the last-error code alone. */
    SetLastError(1234);
    try {
        ReadAt(0);
    } catch (CRunTimeException* e) {
        e->Delete();
    }
    EXPECT_EQ(GetLastError(), 1234u);
}

volatile LONG g_debugStrings;

LONG WINAPI CountDebugStrings(EXCEPTION_POINTERS* p)
{
    if (p->ExceptionRecord->ExceptionCode == DBG_PRINTEXCEPTION_C)
        InterlockedIncrement(&g_debugStrings);
    return EXCEPTION_CONTINUE_SEARCH;
}

TEST_F(Faults, FaultsThatSystemCodeHandlesStayUntouched)
{
    EXPECT_TRUE(IsBadReadPtr(nullptr, 4));
    EXPECT_TRUE(IsBadWritePtr(reinterpret_cast<void*>(0x10), 4));
    EXPECT_EQ(lstrlenA(nullptr), 0);

    /* OutputDebugStringA raises an informational exception and handles it
     * itself: it is raised, and it never comes back as a CException. */
    g_debugStrings = 0;
    PVOID watcher = AddVectoredExceptionHandler(1, CountDebugStrings);
    ASSERT_NE(watcher, nullptr);
    try {
        OutputDebugStringA("informational exceptions pass too\n");
    } catch (CException* e) {
        ADD_FAILURE() << "translated: " << std::hex << static_cast<long>(*e);
        e->Delete();
    }
    RemoveVectoredExceptionHandler(watcher);
    EXPECT_GE(g_debugStrings, 1) << "the informational exception was raised";
    EXPECT_EQ(Divide(42, 6), 7);
}

TEST_F(Faults, HandlersAfterTerminateSeeNoTranslation)
{
    /* Translation is per thread and ends with TkTerminate; a second
     * TkInitialize brings it back. The fault itself runs in a child. */
    tktest::ChildResult r = tktest::RunChild("fault_child.exe", "after-terminate", 60000);
    ASSERT_TRUE(r.started);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0xC0000094u);
}

TEST_F(Faults, AThreadWithoutTheTranslatorKeepsThePlatformsBehaviour)
{
    tktest::ChildResult r = tktest::RunChild("fault_child.exe", "other-thread", 60000);
    ASSERT_TRUE(r.started);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0xC0000094u) << "the fault ends the process as it would without tools.dll";
}

TEST_F(Faults, StackOverflowEndsTheProcessWithoutHanging)
{
    tktest::ChildResult r = tktest::RunChild("fault_child.exe", "stack-overflow", 60000);
    ASSERT_TRUE(r.started);
    ASSERT_TRUE(r.finished) << "the child hung";
    if (sizeof(void*) == 8 && RunningUnderWine()) {
        /* 64-bit Wine 8 dispatches a stack overflow on the little stack left
         * below the guard page, overflows again inside its own dispatcher
         * and ends the process there, before any handler or filter of the
         * program runs: no code can be had then, only the end. */
        EXPECT_NE(r.exitCode, 7u) << "the overflow must not be caught as an exception";
        EXPECT_NE(r.exitCode, 8u);
    } else {
        EXPECT_EQ(r.exitCode, 0xC00000FDu);
    }
}

/* A throw that the C++ runtime cannot take to a catch must never start: it
 * would end in std::terminate (exit code 3). Each case runs in a child; 0
 * means the catch in the caller saw the fault's code (and address). */
TEST_F(Faults, ATranslatedFaultNeverEndsInTerminate)
{
    /* The platform's DLLs carry unwind tables on x86_64, so a throw passes
     * through them there. On i686 they have no unwind information that
     * GCC's unwinder could use: a fault inside one, or below one, is left
     * untranslated and ends the process with its own code. */
    const bool x64 = sizeof(void*) == 8;
    struct Case {
        const char* mode;
        DWORD exitCode;
    } cases[] = {
        /* Inside the C runtime's strlen. */
        { "strlen", x64 ? 0 : 0xC0000005 },
        /* In a body with cleanups but without -fnon-call-exceptions: the
         * throw starts at the call into it, as if the call had thrown. */
        { "string-plain", 0 },
        /* With -fnon-call-exceptions, from the fault itself: the local's
         * destructor runs (12 if it did not). */
        { "string-cleanup", 0 },
        /* Inside a callback that the C runtime's qsort calls. */
        { "qsort", x64 ? 0 : 0xC0000094 },
        /* In a noexcept function: no catch can be reached, so the fault
         * stays untranslated and ends the process with its own code. */
        { "noexcept", 0xC0000094 },
    };
    for (const Case& c : cases) {
        tktest::ChildResult r = tktest::RunChild("fault_child.exe", c.mode, 60000);
        ASSERT_TRUE(r.started) << c.mode;
        ASSERT_TRUE(r.finished) << c.mode << " hung";
        EXPECT_NE(r.exitCode, 3u) << c.mode << " ended in std::terminate";
        EXPECT_EQ(r.exitCode, c.exitCode) << c.mode;
    }
}

TEST_F(Faults, CppThrowsAndInformationalExceptionsAreNoFaults)
{
    /* A C++ exception is no fault: on a thread that CreateThread started,
     * with a catch (CException*) around the throw, it must still reach
     * std::terminate (exit code 3), and not come back as a fault. */
    tktest::ChildResult r = tktest::RunChild("fault_child.exe", "uncaught-throw", 60000);
    ASSERT_TRUE(r.started);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 3u) << "13: the catch received the throw as a fault";

    /* Neither is an informational exception, nor another C++ runtime's
     * throw: with no handler of their own, they end the process with their
     * code. */
    for (const char* mode : { "informational", "other-cxx-throw" }) {
        r = tktest::RunChild("fault_child.exe", mode, 60000);
        ASSERT_TRUE(r.started) << mode;
        ASSERT_TRUE(r.finished) << mode;
        EXPECT_EQ(r.exitCode, !strcmp(mode, "informational") ? 0x4000ABCDu : 0xE06D7363u) << mode;
    }
}

TEST_F(Faults, TheTranslatingThreadStillCatchesAfterTheChildRuns)
{
    tktest::ChildResult r = tktest::RunChild("fault_child.exe", "translated", 60000);
    ASSERT_TRUE(r.started);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.exitCode, 0u) << "the child caught its fault and exited normally";
}

}  // namespace
