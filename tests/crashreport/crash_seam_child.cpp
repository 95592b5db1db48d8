/* A child for crash_report_test, linked with the library's objects, that
 * ends in a division by zero with a second thread waiting in
 * crashtest::WaitForever. In mode "seam" the reporter's own call to open
 * that thread faults: the fault being reported must keep its course and
 * its report. In mode "windows-frames" the walk finds unwind tables only
 * in the program's folder, as on Windows, whose i686 system DLLs carry
 * none (Wine's do): the waiting thread's frames above the system's must
 * still be found. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "tools/runtime.h"
#include "crashreport/crash_platform.h"
#include "frames/frame_walk.h"
#include "crash_faults.h"

namespace {

HANDLE WINAPI FaultingOpenThread(DWORD, BOOL, DWORD)
{
    *static_cast<volatile int*>(nullptr) = 1;
    return nullptr;
}

char g_programFolder[MAX_PATH];

/* Tables of the modules in the program's folder only. */
template <typename Fn>
struct ProgramFolderOnly;
template <typename Result, typename Pc, typename... Rest>
struct ProgramFolderOnly<Result (*)(Pc, Rest...)> {
    static Result Find(Pc pc, Rest... rest)
    {
        HMODULE module = nullptr;
        char path[MAX_PATH];
        if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                reinterpret_cast<LPCSTR>(pc), &module) ||
            !GetModuleFileNameA(module, path, sizeof path) ||
            strncmp(path, g_programFolder, strlen(g_programFolder)) != 0)
            return Result();
        return tk::kSystemFrameLookupPlatform.find(pc, rest...);
    }
};
const tk::FrameLookupPlatform kProgramFolderOnly = { ProgramFolderOnly<tk::arch::FindFrameFn>::Find };

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
    GetModuleFileNameA(nullptr, g_programFolder, sizeof g_programFolder);
    if (char* name = strrchr(g_programFolder, '\\'))
        name[1] = '\0';
    tk::CrashReportPlatform platform = tk::kSystemCrashReportPlatform;
    if (!strcmp(argv[1], "seam"))
        platform.openThread = FaultingOpenThread;
    const tk::UsingPlatform<tk::CrashReportPlatform> reporting(tk::CrashReportSeam(), platform);
    const bool windowsFrames = sizeof(void*) == 4 && !strcmp(argv[1], "windows-frames");
    const tk::UsingPlatform<tk::FrameLookupPlatform> lookup(
        tk::FrameLookupSeam(), windowsFrames ? kProgramFolderOnly : tk::kSystemFrameLookupPlatform);
    if (TkSetCrashReport(argv[2]) != S_OK)
        return 3;
    HANDLE waiting = CreateThread(nullptr, 0, crashtest::WaitForever, nullptr, 0, nullptr);
    /* Until it waits. */
    while (WaitForSingleObject(waiting, 10) == WAIT_TIMEOUT && !crashtest::g_waiting)
        ;
    return crashtest::DivideByZero(7);
}
