/* child_process.h -- runs a program beside the test program as a child and
 * reports how it ended. For behaviour that ends or hangs a process. */
#ifndef TOOLS_TESTS_CHILD_PROCESS_H
#define TOOLS_TESTS_CHILD_PROCESS_H

#include <windows.h>

#include <string>

#include "support/paths.h"

namespace tktest {

struct ChildResult {
    bool started;
    bool finished;   /* false: still running at the deadline, and killed */
    DWORD exitCode;
};

/* Starts "<program directory><exe> <args>" and waits up to timeoutMs. */
inline ChildResult RunChild(const std::string& exe, const std::string& args, DWORD timeoutMs)
{
    ChildResult result = { false, false, 0 };
    std::string command = "\"" + ProgramDirectory() + exe + "\" " + args;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return result;
    result.started = true;
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        result.finished = true;
        GetExitCodeProcess(pi.hProcess, &result.exitCode);
    } else {
        TerminateProcess(pi.hProcess, 1);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return result;
}

/* Runs it as a debugger does: each exception is reported to the test
 * first, and it passes each on to the child unhandled (but the loader's
 * breakpoint, which is the debugger's own). */
inline ChildResult RunChildUnderADebugger(const std::string& exe, const std::string& args, DWORD timeoutMs)
{
    ChildResult result = { false, false, 0 };
    std::string command = "\"" + ProgramDirectory() + exe + "\" " + args;
    STARTUPINFOA start = {};
    start.cb = sizeof start;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr,
                        &start, &child))
        return result;
    result.started = true;
    DEBUG_EVENT event;
    while (WaitForDebugEvent(&event, timeoutMs)) {
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXCEPTION_DEBUG_EVENT:
            if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                status = DBG_EXCEPTION_NOT_HANDLED;
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            result.finished = true;
            result.exitCode = event.u.ExitProcess.dwExitCode;
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT)
            break;
    }
    if (!result.finished)
        TerminateProcess(child.hProcess, 1);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return result;
}

}  // namespace tktest

#endif
