/* What TkInitialize learns of the platform, over a stand-in version query
 * and common-controls library, the cookie counter's wrap, and the fault
 * translator's per-thread state, its filter under a held heap lock and a
 * fault inside the filter, and, on i686, its reading of frame tables. */
#include <gtest/gtest.h>

#include <malloc.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>
#include <shlwapi.h>

#include <string>

#include "tools/runtime.h"
#include "library/lifecycle.h"
#include "faults/frame_walk.h"
#include "faults/se_translator.h"
#include "support/fault_makers.h"

namespace {

struct Fake {
    bool versionFails;
    DWORD family;
    bool loadFails, noEntry;
    HRESULT result;
    DWORD major, minor;
    int loads, frees;
    DWORD versionRecordSize, dllRecordSize;
} g;

HMODULE const kComctl = reinterpret_cast<HMODULE>(0x51000000);

HRESULT CALLBACK DllGetVersion(DLLVERSIONINFO* info)
{
    g.dllRecordSize = info->cbSize;
    info->dwMajorVersion = g.major;
    info->dwMinorVersion = g.minor;
    return g.result;
}
BOOL WINAPI Version(OSVERSIONINFOA* info)
{
    g.versionRecordSize = info->dwOSVersionInfoSize;
    info->dwPlatformId = g.family;
    return !g.versionFails;
}
HMODULE WINAPI Load(LPCSTR name)
{
    ++g.loads;
    EXPECT_STREQ(name, "comctl32.dll");
    return g.loadFails ? nullptr : kComctl;
}
FARPROC WINAPI Entry(HMODULE module, LPCSTR name)
{
    EXPECT_EQ(module, kComctl);
    EXPECT_STREQ(name, "DllGetVersion");
    return g.noEntry ? nullptr : reinterpret_cast<FARPROC>(reinterpret_cast<void*>(DllGetVersion));
}
BOOL WINAPI Free(HMODULE module)
{
    ++g.frees;
    EXPECT_EQ(module, kComctl);
    return TRUE;
}

const tk::LifecyclePlatform kFake = { Version, Load, Entry, Free };

class LearnPlatform : public ::testing::Test {
protected:
    tk::UsingPlatform<tk::LifecyclePlatform> use_{ tk::LifecycleSeam(), kFake };
};

void Reset(DWORD family, DWORD major, DWORD minor)
{
    g = Fake();
    g.family = family;
    g.major = major;
    g.minor = minor;
}

TEST_F(LearnPlatform, TakesTheFamilyFromTheVersionQuery)
{
    for (DWORD family : { 0u, 1u, 2u }) {
        Reset(family, 6, 0);
        tk::LifecycleState state = {};
        tk::LearnPlatform(state);
        EXPECT_EQ(state.platformFamily, family);
        EXPECT_EQ(g.versionRecordSize, 148u);
    }
    Reset(2, 6, 0);
    g.versionFails = true;
    tk::LifecycleState state = {};
    tk::LearnPlatform(state);
    EXPECT_EQ(state.platformFamily, 1u) << "a failed query means the Windows 95 family";
    EXPECT_FALSE(state.newStyle);
}

TEST_F(LearnPlatform, NewStyleNeedsTheNtFamilyAndCommonControlsSix)
{
    struct Case {
        DWORD family, major, minor;
        bool noEntry;
        HRESULT result;
        bool expected;
    } cases[] = {
        { 2, 5, 82, false, S_OK, false },
        { 2, 6, 0, false, S_OK, true },
        { 2, 6, 10, false, S_FALSE, true },
        { 1, 6, 0, false, S_OK, false },
        { 0, 6, 0, false, S_OK, false },
        { 2, 6, 0, true, S_OK, false },        /* no DllGetVersion: 4.0 */
        { 2, 6, 0, false, E_NOTIMPL, false },  /* 4.0, whatever the record says */
        { 2, 6, 0, false, E_FAIL, false },
    };
    for (const Case& c : cases) {
        Reset(c.family, c.major, c.minor);
        g.noEntry = c.noEntry;
        g.result = c.result;
        tk::LifecycleState state = {};
        tk::LearnPlatform(state);
        const std::string what = "family " + std::to_string(c.family) + ", " + std::to_string(c.major) + "." +
            std::to_string(c.minor) + (c.noEntry ? ", no entry" : "") + ", result " + std::to_string(c.result);
        EXPECT_EQ(state.newStyle, c.expected) << what;
        EXPECT_EQ(g.loads, 1) << what;
        EXPECT_EQ(g.frees, 1) << "unloaded again whatever the outcome: " << what;
        if (!c.noEntry) {
            EXPECT_EQ(g.dllRecordSize, 20u) << what;
        }
    }
}

TEST_F(LearnPlatform, NeverTurnsTheFlagOff)
{
    tk::LifecycleState state = {};
    Reset(2, 6, 0);
    tk::LearnPlatform(state);
    ASSERT_TRUE(state.newStyle);

    Reset(2, 5, 82);
    tk::LearnPlatform(state);
    EXPECT_TRUE(state.newStyle);
    Reset(2, 6, 0);
    g.result = E_FAIL;
    tk::LearnPlatform(state);
    EXPECT_TRUE(state.newStyle);
    Reset(2, 6, 0);
    g.loadFails = true;
    tk::LearnPlatform(state);
    EXPECT_TRUE(state.newStyle);
    EXPECT_EQ(g.frees, 0) << "nothing loaded, nothing freed";
}

TEST(Cookie, WrapsAfterTheLargestNumber)
{
    tk::Lifecycle().cookie = 0xFFFFFFFE;
    EXPECT_EQ(TkGetCookie(), 0xFFFFFFFFu);
    EXPECT_EQ(TkGetCookie(), 0u);
    EXPECT_EQ(TkGetCookie(), 1u);
}

}  // namespace

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

#if defined(__i386__)
extern "C" void __register_frame(void* begin);
extern "C" void __deregister_frame(void* begin);

namespace {

/* Never run: only the table below covers it. */
unsigned char g_uncalled[16];

/* Any FDE of a CIE whose augmentation starts with 'z' has augmentation
 * data, also when the CIE names neither personality nor LSDA. */
TEST(FrameStep, SkipsTheAugmentationDataOfAnFdeWhoseCieHasNoPersonality)
{
    alignas(4) unsigned char table[] = {
        /* CIE: version 1, "zR", code alignment 1, data alignment -4, return
         * address column 8, one byte of data (absolute addresses); the CFA
         * is esp + 4, the return address at CFA - 4. */
        20, 0, 0, 0, 0, 0, 0, 0, 1, 'z', 'R', 0, 1, 0x7C, 8, 1, 0x00, 0x0C, 4, 4, 0x88, 1, 0, 0,
        /* FDE: its CIE 28 bytes back, the range (filled in below), one byte
         * of augmentation data, then the CFA moves to esp + 8. */
        20, 0, 0, 0, 28, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0, 0, 1, 0x0E, 0x0E, 8, 0, 0, 0, 0,
        /* The end of the table. */
        0, 0, 0, 0,
    };
    const DWORD begin = reinterpret_cast<DWORD>(g_uncalled);
    memcpy(table + 32, &begin, sizeof begin);
    __register_frame(table);
    DWORD stack[4] = { 0x1111, 0x2222, 0x3333, 0x4444 };
    CONTEXT context = {};
    context.Eip = begin + 4;
    context.Esp = reinterpret_cast<DWORD>(stack);
    tk::FrameFacts facts = {};
    const bool stepped = tk::StepFrame(context, true, &facts);
    __deregister_frame(table);
    ASSERT_TRUE(stepped);
    EXPECT_EQ(context.Eip, 0x2222u) << "the return address lies below a CFA of esp + 8";
    EXPECT_EQ(context.Esp, reinterpret_cast<DWORD>(stack + 2));
}

}  // namespace
#endif
