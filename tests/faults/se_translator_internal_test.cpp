/* The fault translator's per-thread state, its filter under a held heap
 * lock, and a fault inside the filter. */
#include <gtest/gtest.h>

#include <malloc.h>
#include <stdlib.h>

#include <windows.h>

#include "tools/runtime.h"
#include "faults/frame_walk.h"
#include "faults/se_translator.h"
#include "support/fault_makers.h"

namespace {

DWORD WINAPI InstallAndEnd(void*)
{
    tk::SetSeTranslator(TkSeTranslator);
    return 0;
}

/* The library asks for no thread notifications, yet a thread that ends
 * with its translator installed leaves no block behind. */
TEST(Translator, AThreadThatEndsWithItsTranslatorLeavesNoBlockBehind)
{
    const long before = tk::TranslatingThreads();
    for (int i = 0; i < 20; ++i) {
        HANDLE thread = CreateThread(nullptr, 0, InstallAndEnd, nullptr, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    EXPECT_EQ(tk::TranslatingThreads(), before);
    tk::SetSeTranslator(TkSeTranslator);
    tk::SetSeTranslator(TkSeTranslator);
    EXPECT_EQ(tk::TranslatingThreads(), before + 1) << "one block a thread";
    tk::SetSeTranslator(nullptr);
    EXPECT_EQ(tk::TranslatingThreads(), before);
}

}  // namespace

namespace {

volatile int g_sink;

/* Each thread faults at addresses of its own: a record that another
 * thread's fault overwrote would name the wrong one. */
DWORD WINAPI FaultOwnAddresses(void* parameter)
{
    const uintptr_t base = 0x1000 * (reinterpret_cast<uintptr_t>(parameter) + 1);
    tk::SetSeTranslator(TkSeTranslator);
    DWORD wrong = 0;
    for (int n = 0; n < 2000; ++n) {
        const uintptr_t address = base + static_cast<uintptr_t>(n % 1000) * 4;
        try {
            tktest::ReadAt(address);
            ++wrong;
        } catch (CRunTimeException* e) {
            wrong += e->m_pExceptionPointers->ExceptionRecord->ExceptionInformation[1] != address;
            e->Delete();
        }
    }
    tk::SetSeTranslator(nullptr);
    return wrong;
}

TEST(Translator, FaultsOnFourThreadsAtOnceAreEachCaughtWithTheirOwnRecord)
{
    HANDLE threads[4];
    for (uintptr_t i = 0; i < 4; ++i)
        threads[i] = CreateThread(nullptr, 0, FaultOwnAddresses, reinterpret_cast<void*>(i), 0, nullptr);
    WaitForMultipleObjects(4, threads, TRUE, INFINITE);
    for (HANDLE thread : threads) {
        DWORD wrong = 1;
        GetExitCodeThread(thread, &wrong);
        EXPECT_EQ(wrong, 0u);
        CloseHandle(thread);
    }
}

}  // namespace

namespace {

using tktest::g_zero;
HANDLE g_translating;

/* Tells that the filter is done with the fault, before the throw. */
void SignallingTranslator(unsigned int code, EXCEPTION_POINTERS* p)
{
    SetEvent(g_translating);
    TkSeTranslator(code, p);
}

/* Holds the locks of the process's heap and the C runtime's until the
 * faulting thread reaches its translator, or 5 s have passed; returns
 * which came first. */
DWORD WINAPI HoldTheHeaps(void* locked)
{
    const HANDLE heaps[] = { GetProcessHeap(), reinterpret_cast<HANDLE>(_get_heap_handle()) };
    for (HANDLE heap : heaps)
        HeapLock(heap);
    SetEvent(locked);
    const DWORD waited = WaitForSingleObject(g_translating, 5000);
    for (HANDLE heap : heaps)
        HeapUnlock(heap);
    return waited;
}

/* The process's first fault, while another thread holds the heaps' locks:
 * a filter that allocated, or waited on a lock that an allocation holds,
 * would not reach the translator until they are released. Exits with 0
 * when it did, before. */
[[noreturn]] void FaultWithTheHeapsLocked()
{
    g_translating = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE locked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    tk::SetSeTranslator(SignallingTranslator);
    HANDLE holder = CreateThread(nullptr, 0, HoldTheHeaps, locked, 0, nullptr);
    WaitForSingleObject(locked, INFINITE);
    try {
        g_sink = 1 / g_zero;
    } catch (CRunTimeException* e) {
        e->Delete();
    }
    WaitForSingleObject(holder, INFINITE);
    DWORD waited = WAIT_FAILED;
    GetExitCodeThread(holder, &waited);
    _exit(waited == WAIT_OBJECT_0 ? 0 : 1);
}

/* A frame lookup that faults, as one over corrupt tables may. */
void* volatile g_nowhere;
template <typename Find>
struct FaultingLookup;
template <typename Result, typename... Arguments>
struct FaultingLookup<Result (*)(Arguments...)> {
    static Result Find(Arguments...) { return *static_cast<Result volatile*>(g_nowhere); }
};
const tk::FrameLookupPlatform kFaultingLookup = { FaultingLookup<tk::arch::FindFrameFn>::Find };

/* A fault whose walk faults inside the filter. The fault inside must take
 * its platform course, as on a thread without the translator: the process
 * ends with its code. */
[[noreturn]] void FaultWhoseWalkFaults()
{
    tk::SetSeTranslator(TkSeTranslator);
    const tk::UsingPlatform<tk::FrameLookupPlatform> faulting(tk::FrameLookupSeam(), kFaultingLookup);
    try {
        g_sink = 1 / g_zero;
    } catch (CException* e) {
        e->Delete();
    }
    _exit(1);
}

/* Each in a process of its own: the first needs the process's first
 * fault, the second ends the process. */
TEST(TranslatorDeathTest, TheFilterNeitherAllocatesNorWaitsForTheHeap)
{
    EXPECT_EXIT(FaultWithTheHeapsLocked(), ::testing::ExitedWithCode(0), "");
}

TEST(TranslatorDeathTest, AFaultInsideTheFilterGoesOnToThePreviousFilter)
{
    EXPECT_EXIT(FaultWhoseWalkFaults(), ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_ACCESS_VIOLATION)), "");
}

}  // namespace
