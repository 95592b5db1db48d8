/* crash_platform.h -- the platform calls of crash reports that tests make
 * fail, through the library's one seam. */
#ifndef TOOLS_CRASHREPORT_CRASH_PLATFORM_H
#define TOOLS_CRASHREPORT_CRASH_PLATFORM_H

#include <windows.h>
#include <winternl.h>

#include "base/handles.h"
#include "base/seam.h"

namespace tk {

struct CrashReportPlatform {
    HANDLE (WINAPI* openThread)(DWORD access, BOOL inherit, DWORD id);
    DWORD (WINAPI* suspendThread)(HANDLE thread);
    DWORD (WINAPI* resumeThread)(HANDLE thread);
    BOOL (WINAPI* getThreadContext)(HANDLE thread, CONTEXT* context);
    /* The process's threads (NtQuerySystemInformation's process list) and
     * a thread's block (NtQueryInformationThread's basic information). */
    NTSTATUS (WINAPI* queryProcesses)(void* buffer, ULONG size, ULONG* needed);
    NTSTATUS (WINAPI* queryThreadBlock)(HANDLE thread, void** block);
    BOOL (WINAPI* closeHandle)(HANDLE handle);
    HMODULE (WINAPI* loadLibrary)(LPCSTR name);
    FARPROC (WINAPI* getProcAddress)(HMODULE module, LPCSTR name);
    BOOL (WINAPI* freeLibrary)(HMODULE module);
};

extern const CrashReportPlatform kSystemCrashReportPlatform;

Seam<CrashReportPlatform>& CrashReportSeam();

typedef UniqueObjectHandle<CrashReportPlatform, CrashReportSeam> CrashHandle;
typedef UniqueFileHandle<CrashReportPlatform, CrashReportSeam> CrashFile;
typedef UniqueModule<CrashReportPlatform, CrashReportSeam> CrashModule;

}  // namespace tk

#endif
