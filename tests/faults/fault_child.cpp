/* A child for faults_test: faults in ways that end a process, or that would
 * end it in std::terminate (exit code 3) if thrown from the wrong place, so
 * the parent can check how it ended. Exit codes: 0 caught as expected, 10
 * caught with another code or address, 11 no exception at all; 4 to 8 and
 * 12 to 17 as the modes below say. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <windows.h>

#include <exception>
#include <stdexcept>
#include <string>

#include "tools/runtime.h"
#include "support/fault_makers.h"
#include "support/foreign_frames.h"
#include "fault_c_cleanup.h"
#include "fault_plain.h"

namespace {

using tktest::Divide;
using tktest::g_zero;

/* Endless on purpose: it must use up the stack. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int Recurse(int n)
{
    volatile char pad[256];
    pad[0] = static_cast<char>(n);
    return Recurse(n + 1) + pad[0];
}
#pragma GCC diagnostic pop

DWORD WINAPI DivideOnThread(void*)
{
    return static_cast<DWORD>(Divide(1, g_zero));
}

/* A throw of a type that no catch here takes, on a thread that the
 * platform starts with no C++ runtime code above it: the C++ rule is
 * std::terminate, whatever handler for faults lies around. 13 when the
 * throw came back as a fault instead. */
DWORD WINAPI ThrowUncaught(void*)
{
    TkInitialize();
    try {
        throw std::runtime_error("not a fault");
    } catch (CException* e) {
        e->Delete();
        return 13;
    }
}

int g_destroyed;
/* Results land here, so that the optimiser keeps each faulting division. */
volatile int g_sink;
struct Counted {
    ~Counted() { ++g_destroyed; }
};

/* Built with -fnon-call-exceptions: the fault itself is in the call-site
 * table, and the local's destructor runs as the throw leaves. */
__attribute__((noinline)) int DivideWithCleanup(int a)
{
    Counted counted;
    std::string text(40, 'x');
    g_sink = a / g_zero + text[0];
    return g_sink;
}

/* A fault where C++ allows no throw at all. */
__attribute__((noinline)) int DivideNoexcept(int a) noexcept
{
    g_sink = a / g_zero;
    return g_sink;
}

char* const kBadText = reinterpret_cast<char*>(static_cast<uintptr_t>(0x10));

/* 0 when f throws a CRunTimeException* with the given code (and, for an
 * access violation, the given address), 10 for another, 11 for none. */
template <typename F>
int Expect(F f, DWORD code, uintptr_t address = 0)
{
    try {
        f();
    } catch (CRunTimeException* e) {
        const EXCEPTION_RECORD* r = e->m_pExceptionPointers ? e->m_pExceptionPointers->ExceptionRecord : nullptr;
        const bool right = r && r->ExceptionCode == code &&
            (code != EXCEPTION_ACCESS_VIOLATION || r->ExceptionInformation[1] == address);
        e->Delete();
        return right ? 0 : 10;
    }
    return 11;
}


/* A host's vectored handler that commits reserved memory on demand, or
 * lets a guard page's first touch go on, as allocators and stacks of the
 * host's own do. It must see its faults before any translation. */
unsigned char* g_reserved;
volatile LONG g_hostCalls;

LONG CALLBACK CommitOnDemand(EXCEPTION_POINTERS* p)
{
    const EXCEPTION_RECORD* r = p->ExceptionRecord;
    const unsigned char* at = reinterpret_cast<const unsigned char*>(r->ExceptionInformation[1]);
    if (r->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && at >= g_reserved && at < g_reserved + 4096 &&
        VirtualAlloc(g_reserved, 4096, MEM_COMMIT, PAGE_READWRITE)) {
        InterlockedIncrement(&g_hostCalls);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (r->ExceptionCode == STATUS_GUARD_PAGE_VIOLATION) {
        InterlockedIncrement(&g_hostCalls);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

/* The host's own filter, set after TkInitialize: a fault that reaches it
 * ends the process with 77. */
LONG WINAPI EndWith77(EXCEPTION_POINTERS*)
{
    TerminateProcess(GetCurrentProcess(), 77);
    return EXCEPTION_CONTINUE_SEARCH;
}

/* Faults in its destructor, which C++ runs while another exception
 * unwinds the frame. */
struct FaultsWhenDestroyed {
    ~FaultsWhenDestroyed() { g_sink = 1 / g_zero; }
};

__attribute__((noinline)) void BreakIntoTheDebugger() { __asm__ volatile("int3"); }

int g_fiberResult = 11;

void CALLBACK FaultInFiber(void* main)
{
    g_fiberResult = Expect([] { Divide(1, g_zero); }, EXCEPTION_INT_DIVIDE_BY_ZERO);
    SwitchToFiber(main);
}

}  // namespace

int main(int argc, char** argv)
{
    const char* mode = argc > 1 ? argv[1] : "";
    /* Handlers of the host's, registered before TkInitialize. */
    if (!strncmp(mode, "host-handler-", 13)) {
        g_reserved = static_cast<unsigned char*>(VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS));
        AddVectoredExceptionHandler(mode[13] == '1', CommitOnDemand);
    }
    if (!strcmp(mode, "guard-page")) {
        g_reserved = static_cast<unsigned char*>(
            VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD));
        AddVectoredExceptionHandler(0, CommitOnDemand);
    }
    TkInitialize();
    /* 0 when the host's handler took its one fault and the read went on;
     * 16 when it did not see it; 10 when the fault was translated. */
    if (!strncmp(mode, "host-handler-", 13) || !strcmp(mode, "guard-page")) {
        int read = -1;
        try {
            read = tktest::ReadAt(reinterpret_cast<uintptr_t>(g_reserved));
        } catch (CRunTimeException* e) {
            e->Delete();
            return 10;
        }
        return read == 0 && g_hostCalls == 1 ? 0 : 16;
    }
    /* A debugger's trap, from the system's function or as an assertion
     * macro breaks into the debugger: no catch sees it; without a debugger
     * the process ends with its code. */
    if (!strcmp(mode, "debug-break") || !strcmp(mode, "assertion-break")) {
        try {
            if (mode[0] == 'd')
                DebugBreak();
            else
                BreakIntoTheDebugger();
        } catch (CException* e) {
            e->Delete();
            return 13;
        }
        return 11;
    }
    /* Through a frame of plain C with a cleanup: 0 when the catch took the
     * fault and the cleanup ran (12 when it did not), 77 when the fault
     * went on to the host's filter instead. */
    if (!strcmp(mode, "c-cleanup")) {
        SetUnhandledExceptionFilter(EndWith77);
        const int result = Expect([] { CallWithCleanup(Divide, 1, 0); }, EXCEPTION_INT_DIVIDE_BY_ZERO);
        return result ? result : g_cCleanups == 1 ? 0 : 12;
    }
    /* C++ ends in std::terminate (3); 14 when a catch took it. */
    if (!strcmp(mode, "destructor-fault")) {
        try {
            FaultsWhenDestroyed faulty;
            throw std::runtime_error("first");
        } catch (...) {
            return 14;
        }
        return 11;
    }
    /* 0 when the first exception's catch handler ended with the fault's
     * throw; 15 when the C++ runtime still counts it afterwards. */
    if (!strcmp(mode, "catch-block-fault")) {
        int result = 11;
        try {
            PlainDivideInCatch(0);
        } catch (CRunTimeException* e) {
            result = static_cast<long>(*e) == static_cast<long>(EXCEPTION_INT_DIVIDE_BY_ZERO) ? 0 : 10;
            e->Delete();
        }
        return result ? result : std::current_exception() || std::uncaught_exceptions() ? 15 : 0;
    }
#ifdef _WIN64
    /* Through frames of other kinds, with a host filter set after
     * TkInitialize: 0 when the catch took the fault at once, 77 when the
     * fault went on to the host's filter; 12 when a __finally did not run
     * as the throw left its frame. */
    const struct {
        const char* mode;
        int (*call)(int (*)(int, int), int, int);
    } frames[] = {
        { "finally-scope", tk_CallInFinallyScope },
        { "checking-handler", tk_CallInCheckedFrame },
        { "filtering-handler", tk_CallInFilteredFrame },
    };
    for (const auto& frame : frames) {
        if (strcmp(mode, frame.mode))
            continue;
        SetUnhandledExceptionFilter(EndWith77);
        const int result = Expect([&] { frame.call(Divide, 1, 0); }, EXCEPTION_INT_DIVIDE_BY_ZERO);
        return result || frame.call != tk_CallInFinallyScope ? result : tktest::g_finallies == 1 ? 0 : 12;
    }
#endif
    if (!strcmp(mode, "declining-except")) {
        SetUnhandledExceptionFilter(EndWith77);
        return Expect([] { tk_CallInDecliningExceptScope(Divide, 1, 0); }, EXCEPTION_INT_DIVIDE_BY_ZERO);
    }
    if (!strcmp(mode, "fiber")) {
        void* main = ConvertThreadToFiber(nullptr);
        void* fiber = CreateFiber(0, FaultInFiber, main);
        SwitchToFiber(fiber);
        DeleteFiber(fiber);
        ConvertFiberToThread();
        return g_fiberResult;
    }
    if (!strcmp(mode, "translated")) {
        try {
            Divide(1, g_zero);
        } catch (CRunTimeException* e) {
            long code = *e;
            e->Delete();
            return code == static_cast<long>(0xC0000094) ? 0 : 10;
        }
        return 11;
    }
    if (!strcmp(mode, "strlen"))
        return Expect([] { PlainLength(kBadText); }, EXCEPTION_ACCESS_VIOLATION, 0x10);
    if (!strcmp(mode, "string-plain"))
        return Expect([] { PlainWithString(g_zero); }, EXCEPTION_INT_DIVIDE_BY_ZERO);
    if (!strcmp(mode, "string-cleanup")) {
        int result = Expect([] { DivideWithCleanup(7); }, EXCEPTION_INT_DIVIDE_BY_ZERO);
        return result ? result : g_destroyed == 1 ? 0 : 12;
    }
    if (!strcmp(mode, "qsort")) {
        int values[4] = { 4, 3, 2, 1 };
        return Expect([&] { PlainSortDividing(values, 4); }, EXCEPTION_INT_DIVIDE_BY_ZERO);
    }
    if (!strcmp(mode, "noexcept"))
        return Expect([] { DivideNoexcept(7); }, EXCEPTION_INT_DIVIDE_BY_ZERO);
    if (!strcmp(mode, "other-thread")) {
        HANDLE thread = CreateThread(nullptr, 0, DivideOnThread, nullptr, 0, nullptr);
        WaitForSingleObject(thread, INFINITE);
        return 4;
    }
    if (!strcmp(mode, "uncaught-throw")) {
        HANDLE thread = CreateThread(nullptr, 0, ThrowUncaught, nullptr, 0, nullptr);
        WaitForSingleObject(thread, INFINITE);
        DWORD code = 4;
        GetExitCodeThread(thread, &code);
        return static_cast<int>(code);
    }
    if (!strcmp(mode, "informational") || !strcmp(mode, "other-cxx-throw")) {
        /* Codes of no fault: no catch sees them, and the process ends with
         * the code, as without tools.dll. */
        const DWORD code = !strcmp(mode, "informational") ? 0x4000ABCD : 0xE06D7363;
        try {
            RaiseException(code, 0, 0, nullptr);
        } catch (CException* e) {
            e->Delete();
            return 13;
        }
        return 11;
    }
    if (!strcmp(mode, "after-terminate")) {
        TkTerminate();
        try {
            Divide(1, g_zero);
        } catch (CException* e) {
            return 5;
        }
        return 6;
    }
    if (!strcmp(mode, "stack-overflow")) {
        try {
            return Recurse(0);
        } catch (CException* e) {
            return 7;
        }
    }
    fprintf(stderr, "fault_child: unknown mode '%s'\n", mode);
    return 8;
}
