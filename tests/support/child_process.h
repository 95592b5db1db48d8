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

}  // namespace tktest

#endif
