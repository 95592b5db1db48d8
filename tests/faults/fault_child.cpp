/* A child for faults_test: faults in ways that end a process, or that would
 * end it in std::terminate (exit code 3) if thrown from the wrong place, so
 * the parent can check how it ended. Exit codes: 0 caught as expected, 10
 * caught with another code or address, 11 no exception at all; 4 to 8 and
 * 13 as the modes below say. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <windows.h>

#include <stdexcept>
#include <string>

#include "tools/runtime.h"
#include "support/fault_makers.h"
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

}  // namespace

int main(int argc, char** argv)
{
    const char* mode = argc > 1 ? argv[1] : "";
    TkInitialize();
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
