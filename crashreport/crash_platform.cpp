/* crash_platform.cpp -- the system's table of crash reports' calls. */
#include "crashreport/crash_platform.h"

namespace tk {

namespace {

FARPROC NtdllEntry(const char* name) { return GetProcAddress(GetModuleHandleA("ntdll.dll"), name); }

NTSTATUS WINAPI QueryProcesses(void* buffer, ULONG size, ULONG* needed)
{
    typedef NTSTATUS(NTAPI * QueryFn)(SYSTEM_INFORMATION_CLASS, void*, ULONG, ULONG*);
    const QueryFn query =
        reinterpret_cast<QueryFn>(reinterpret_cast<void*>(NtdllEntry("NtQuerySystemInformation")));
    return query ? query(SystemProcessInformation, buffer, size, needed) : static_cast<NTSTATUS>(0xC0000002);
}

/* THREAD_BASIC_INFORMATION, which the platform headers leave out. */
struct ThreadBasics {
    NTSTATUS exitStatus;
    void* block;
    CLIENT_ID clientId;
    ULONG_PTR affinity;
    LONG priority;
    LONG basePriority;
};

NTSTATUS WINAPI QueryThreadBlock(HANDLE thread, void** block)
{
    typedef NTSTATUS(NTAPI * QueryFn)(HANDLE, THREADINFOCLASS, void*, ULONG, ULONG*);
    const QueryFn query =
        reinterpret_cast<QueryFn>(reinterpret_cast<void*>(NtdllEntry("NtQueryInformationThread")));
    ThreadBasics basics = {};
    const NTSTATUS status = query ? query(thread, static_cast<THREADINFOCLASS>(0), &basics, sizeof basics, nullptr)
                                  : static_cast<NTSTATUS>(0xC0000002);
    *block = basics.block;
    return status;
}

}  // namespace

constexpr CrashReportPlatform kSystemCrashReportPlatform = {
    OpenThread, SuspendThread, ResumeThread, GetThreadContext, QueryProcesses, QueryThreadBlock,
    CloseHandle, LoadLibraryA, GetProcAddress, FreeLibrary,
};

namespace {
Seam<CrashReportPlatform> g_seam(kSystemCrashReportPlatform);
}  // namespace

Seam<CrashReportPlatform>& CrashReportSeam() { return g_seam; }

}  // namespace tk
