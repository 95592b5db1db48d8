/* A child for crash_report_test, linked with the library's objects: the
 * reporter's own call to open another thread faults, and the fault being
 * reported, a division by zero, must keep its course and its report. */
#include <windows.h>

#include <stdio.h>

#include "tools/runtime.h"
#include "crashreport/crash_platform.h"
#include "crash_faults.h"

namespace {

HANDLE WINAPI FaultingOpenThread(DWORD, BOOL, DWORD)
{
    *static_cast<volatile int*>(nullptr) = 1;
    return nullptr;
}

DWORD WINAPI Idle(void*)
{
    Sleep(INFINITE);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s\\thread.txt", argv[2]);
    if (FILE* f = fopen(path, "w")) {
        fprintf(f, "%lu\n", GetCurrentThreadId());
        fclose(f);
    }
    tk::CrashReportPlatform platform = tk::kSystemCrashReportPlatform;
    platform.openThread = FaultingOpenThread;
    const tk::UsingPlatform<tk::CrashReportPlatform> using_(tk::CrashReportSeam(), platform);
    if (TkSetCrashReport(argv[2]) != S_OK)
        return 3;
    /* A thread for the reporter to open. */
    CloseHandle(CreateThread(nullptr, 0, Idle, nullptr, 0, nullptr));
    return crashtest::DivideByZero(7);
}
