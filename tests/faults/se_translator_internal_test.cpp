/* The fault translator's per-thread state, its filter under a held heap
 * lock, and a fault inside the filter. */
#include <gtest/gtest.h>

#include <malloc.h>
#include <stdlib.h>

#include <windows.h>

#include "tools/runtime.h"
#include "frames/frame_walk.h"
#include "faults/se_translator.h"
#include "support/fault_makers.h"
#include "support/foreign_frames.h"

namespace {

DWORD WINAPI InstallAndEnd(void*)
{
    tk::SetSeTranslator(TkSeTranslator);
    return 0;
}

void CALLBACK FaultInFiber(void* thread)
{
    try {
        tktest::Divide(1, tktest::g_zero);
    } catch (CRunTimeException* e) {
        e->Delete();
        SwitchToFiber(thread);
    }
    /* Not translated: end the thread with a code the test sees. */
    ExitThread(2);
}

/* The same, with a fault in a fiber of the thread, which the translator
 * reaches too. 0 when it did. */
DWORD WINAPI InstallFaultInAFiberAndEnd(void*)
{
    tk::SetSeTranslator(TkSeTranslator);
    void* thread = ConvertThreadToFiber(nullptr);
    void* fiber = CreateFiber(0, FaultInFiber, thread);
    SwitchToFiber(fiber);
    DeleteFiber(fiber);
    ConvertFiberToThread();
    return 0;
}

/* The library asks for no thread notifications, yet a thread that ends
 * with its translator installed leaves no block behind, fibers or not. */
TEST(Translator, AThreadThatEndsWithItsTranslatorLeavesNoBlockBehind)
{
    const long before = tk::TranslatingThreads();
    for (LPTHREAD_START_ROUTINE routine : { InstallAndEnd, InstallFaultInAFiberAndEnd }) {
        for (int i = 0; i < 20; ++i) {
            HANDLE thread = CreateThread(nullptr, 0, routine, nullptr, 0, nullptr);
            ASSERT_NE(thread, nullptr);
            WaitForSingleObject(thread, INFINITE);
            DWORD code = 1;
            GetExitCodeThread(thread, &code);
            EXPECT_EQ(code, 0u);
            CloseHandle(thread);
        }
        EXPECT_EQ(tk::TranslatingThreads(), before);
    }
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

/* A translation needs stack below the fault, which the walk checks first:
 * committed already, or still to be committed before the pages that the
 * system keeps at the stack's end. */
TEST(Translator, TheStackHasRoomForATranslationOnlyAwayFromItsEnd)
{
    volatile char here = 0;
    MEMORY_BASIC_INFORMATION region;
    ASSERT_NE(VirtualQuery(const_cast<char*>(&here), &region, sizeof region), 0u);
    const DWORD_PTR base = reinterpret_cast<DWORD_PTR>(region.AllocationBase);
/* GCC 12 takes the segment read of NtCurrentTeb for an access to an
 * empty array. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
    const NT_TIB* tib = reinterpret_cast<const NT_TIB*>(NtCurrentTeb());
#pragma GCC diagnostic pop
    const DWORD_PTR committed = reinterpret_cast<DWORD_PTR>(tib->StackLimit);
    const DWORD_PTR top = reinterpret_cast<DWORD_PTR>(tib->StackBase);
    const struct {
        const char* what;
        DWORD_PTR stackPointer;
        size_t bytes;
        bool room;
    } rows[] = {
        { "here", reinterpret_cast<DWORD_PTR>(&here), 1024, true },
        { "all of it committed below", committed + 4096, 4096, true },
        { "more than the whole stack", top - 16, top - base, false },
        { "on the stack's last page", base + 100, 16, false },
    };
    for (const auto& row : rows)
        EXPECT_EQ(tk::RoomBelow(row.stackPointer, row.bytes), row.room) << row.what;

    /* What a walk may read: the committed stack only, whatever address a
     * damaged frame offers. */
    const struct {
        const char* what;
        DWORD_PTR address;
        size_t bytes;
        bool on;
    } reads[] = {
        { "here", reinterpret_cast<DWORD_PTR>(&here), 1, true },
        { "the last bytes below the top", top - 8, 8, true },
        { "across the top", top - 4, 8, false },
        { "below the committed part", committed - 4, 4, false },
        { "a frame pointer of -1, which wraps round", ~static_cast<DWORD_PTR>(0) - 3, 8, false },
    };
    for (const auto& row : reads)
        EXPECT_EQ(tk::OnThreadStack(row.address, row.bytes), row.on) << row.what;
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
 * when it did, before. With a library named, the fault is in that library,
 * loaded after the translator was installed: its start-up registered its
 * frame tables with GCC's unwinder since. */
[[noreturn]] void FaultWithTheHeapsLocked(const char* library)
{
    g_translating = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE locked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    tk::SetSeTranslator(SignallingTranslator);
    int (*divide)(int, int) = tktest::Divide;
    if (library)
        divide = reinterpret_cast<int (*)(int, int)>(
            reinterpret_cast<void*>(GetProcAddress(LoadLibraryA(library), "TkLinesDivide")));
    if (!divide)
        _exit(2);
    HANDLE holder = CreateThread(nullptr, 0, HoldTheHeaps, locked, 0, nullptr);
    WaitForSingleObject(locked, INFINITE);
    try {
        g_sink = divide(1, g_zero);
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
    EXPECT_EXIT(FaultWithTheHeapsLocked(nullptr), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(FaultWithTheHeapsLocked("tk_test_lines.dll"), ::testing::ExitedWithCode(0), "");
}

TEST(TranslatorDeathTest, AFaultInsideTheFilterGoesOnToThePreviousFilter)
{
    EXPECT_EXIT(FaultWhoseWalkFaults(), ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_ACCESS_VIOLATION)), "");
}

}  // namespace

namespace {

/* The code addresses that the frame lookup was asked about, in order. */
DWORD_PTR g_looked[512];
volatile LONG g_lookups;

template <typename Find>
struct CountingLookup;
template <typename Result, typename Pc, typename... Rest>
struct CountingLookup<Result (*)(Pc, Rest...)> {
    static Result Find(Pc pc, Rest... rest)
    {
        const LONG n = InterlockedIncrement(&g_lookups) - 1;
        if (n < 512)
            g_looked[n] = (DWORD_PTR)pc;
        return tk::kSystemFrameLookupPlatform.find(pc, rest...);
    }
};
const tk::FrameLookupPlatform kCountingLookup = { CountingLookup<tk::arch::FindFrameFn>::Find };

/* A filter of another kind between the fault and the catch declines it:
 * the first-chance walk stops there, and the last chance goes on from
 * where it stopped, looking up no frame twice. */
TEST(Translator, AFaultThatGoesOnToTheLastChanceIsWalkedOnce)
{
    tk::SetSeTranslator(TkSeTranslator);
    const LONG filtersBefore = tktest::g_filters;
    g_lookups = 0;
    bool caught = false;
    {
        const tk::UsingPlatform<tk::FrameLookupPlatform> counting(tk::FrameLookupSeam(), kCountingLookup);
        try {
            tk_CallInDecliningExceptScope(tktest::Divide, 1, 0);
        } catch (CRunTimeException* e) {
            caught = true;
            e->Delete();
        }
    }
    tk::SetSeTranslator(nullptr);
    ASSERT_TRUE(caught);
    EXPECT_GE(tktest::g_filters, filtersBefore + 1) << "the filter had the fault before the catch";
    const LONG lookups = g_lookups < 512 ? g_lookups : 512;
    ASSERT_GT(lookups, 2);
    for (LONG i = 0; i < lookups; ++i)
        for (LONG j = 0; j < i; ++j)
            EXPECT_NE(g_looked[i], g_looked[j]) << "lookup " << i << " repeats lookup " << j;
}

}  // namespace
