/* A child for faults_test: faults in ways that end a process, so the parent
 * can check how it ended. */
#include <stdio.h>
#include <string.h>

#include <windows.h>

#include "tools/runtime.h"

namespace {

volatile int g_zero = 0;
__attribute__((noinline)) int Divide(int a, int b) { return a / b; }

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
            return code == static_cast<long>(0xC0000094) ? 0 : 2;
        }
        return 3;
    }
    if (!strcmp(mode, "other-thread")) {
        HANDLE thread = CreateThread(nullptr, 0, DivideOnThread, nullptr, 0, nullptr);
        WaitForSingleObject(thread, INFINITE);
        return 4;
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
