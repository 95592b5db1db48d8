/* A child for crash_report_test: turns crash reports on and ends in the
 * way its first argument names, so that the parent can read what it left
 * in the folder its second argument names. It writes the id of the thread
 * that ends into thread.txt there first. Each line that ends the process
 * carries a mark that the parent looks for in this file. */
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "tools/runtime.h"

namespace {

const char* g_folder;

void NoteThread()
{
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s\\thread.txt", g_folder);
    if (FILE* f = fopen(path, "w")) {
        fprintf(f, "%lu\n", GetCurrentThreadId());
        fclose(f);
    }
}

__attribute__((noipa)) void WriteThroughNull(uintptr_t target)
{
    *reinterpret_cast<volatile int*>(target) = 1;   // mark: null-write
}

DWORD WINAPI FaultOnThread(void*)
{
    NoteThread();
    WriteThroughNull(0);
    return 0;
}

/* Frames of two pages: the stack probe that meets the stack's end leaves
 * the system room to raise the overflow. Under Wine, an overflow met with
 * less than about 4 KB left is never raised at all: Wine ends the thread,
 * and the process only when it was the last. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winfinite-recursion"
__attribute__((noinline)) int Recurse(int n)
{
    volatile char pad[8192];
    pad[0] = static_cast<char>(n);
    return Recurse(n + 1) + pad[0];   // mark: recurse
}
#pragma GCC diagnostic pop

__attribute__((noinline)) void ThrowUncaught()
{
    ThrowException(E_INVALIDARG, __FILE__, __LINE__);   // mark: throw
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const char* mode = argv[1];
    g_folder = argv[2];
    const bool translating = !strcmp(mode, "translated") || !strcmp(mode, "overflow") || !strcmp(mode, "uncaught");
    if (translating)
        TkInitialize();
    if (TkSetCrashReport(g_folder) != S_OK)
        return 3;
    if (!strcmp(mode, "thread")) {
        /* Windows ends the process with the thread's fault; Wine ends
         * only the thread, with the fault's code as its exit code. */
        HANDLE thread = CreateThread(nullptr, 0, FaultOnThread, nullptr, 0, nullptr);
        WaitForSingleObject(thread, INFINITE);
        DWORD code = 4;
        GetExitCodeThread(thread, &code);
        return static_cast<int>(code);
    }
    NoteThread();
    if (!strcmp(mode, "off")) {
        TkSetCrashReport(nullptr);
        WriteThroughNull(0);
    } else if (!strcmp(mode, "translated")) {
        WriteThroughNull(0);
    } else if (!strcmp(mode, "overflow")) {
        return Recurse(0);
    } else if (!strcmp(mode, "heap")) {
        /* The header of a block in use, just before the block. */
        char* block = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, 64));
        memset(block - 2 * sizeof(void*), 0xCC, 2 * sizeof(void*));
        WriteThroughNull(0);
    } else if (!strcmp(mode, "uncaught")) {
        ThrowUncaught();
    }
    return 5;
}
