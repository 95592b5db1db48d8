/* A child for crash_report_test: turns crash reports on and ends in the
 * way its first argument names, so that the parent can read what it left
 * in the folder its second argument names. It writes the id of the thread
 * that ends into thread.txt there first. Its own unhandled-exception
 * filter, set before the library's, leaves filter.txt there when it is
 * called (but on a stack overflow, which leaves it no room). */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "tools/runtime.h"
#include "crash_faults.h"

namespace {

using crashtest::WriteThroughNull;

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

DWORD WINAPI FaultOnThread(void*)
{
    NoteThread();
    WriteThroughNull(0);
    return 0;
}

LONG WINAPI HostFilter(EXCEPTION_POINTERS* p)
{
    if (p->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW) {
        char path[MAX_PATH];
        snprintf(path, sizeof path, "%s\\filter.txt", g_folder);
        CloseHandle(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

void WINAPI FaultOnFiber(void*)
{
    NoteThread();
    WriteThroughNull(0);
}

DWORD WINAPI RunFiber(void*)
{
    ConvertThreadToFiber(nullptr);
    SwitchToFiber(CreateFiber(0, FaultOnFiber, nullptr));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const char* mode = argv[1];
    g_folder = argv[2];
    const bool translating = !strcmp(mode, "translated") || !strcmp(mode, "overflow") || !strcmp(mode, "uncaught");
    SetUnhandledExceptionFilter(HostFilter);
    if (translating)
        TkInitialize();
    if (TkSetCrashReport(g_folder) != S_OK)
        return 3;
    if (!strcmp(mode, "thread") || !strcmp(mode, "fiber")) {
        /* Windows ends the process with the thread's fault; Wine ends
         * only the thread, with the fault's code as its exit code. */
        HANDLE thread =
            CreateThread(nullptr, 0, !strcmp(mode, "thread") ? FaultOnThread : RunFiber, nullptr, 0, nullptr);
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
        return crashtest::Recurse(0);
    } else if (!strcmp(mode, "heap")) {
        /* The header of a block in use, just before the block. */
        char* block = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, 64));
        memset(block - 2 * sizeof(void*), 0xCC, 2 * sizeof(void*));
        WriteThroughNull(0);
    } else if (!strcmp(mode, "uncaught")) {
        crashtest::ThrowUncaught();
    }
    return 5;
}
