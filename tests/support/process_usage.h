/* process_usage.h -- the process's committed private memory and open
 * handles, for tests that check that work leaves none behind. */
#ifndef TOOLS_TESTS_SUPPORT_PROCESS_USAGE_H
#define TOOLS_TESTS_SUPPORT_PROCESS_USAGE_H

#include <windows.h>
#include <psapi.h>

#include <vector>

namespace tktest {

/* Wine leaves PrivateUsage at 0 but fills PagefileUsage, which Windows
 * counts the same. Link psapi. */
inline SIZE_T PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof counters);
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

/* The handles this process holds, or -1 when they cannot be counted.
 * GetProcessHandleCount counts them. Wine's always says 0, which no running
 * process holds; there they are counted in the system's extended handle
 * list (information class 64), whose records carry a pointer-wide process
 * id on both platforms. */
inline int HandleCount()
{
    DWORD handles = 0;
    if (!GetProcessHandleCount(GetCurrentProcess(), &handles))
        return -1;
    if (handles > 0)
        return static_cast<int>(handles);

    struct Entry {
        PVOID object;
        ULONG_PTR process;
        ULONG_PTR handle;
        ACCESS_MASK access;
        USHORT creatorBackTrace;
        USHORT type;
        ULONG attributes;
        ULONG reserved;
    };
    struct List {
        ULONG_PTR count;
        ULONG_PTR reserved;
        Entry entries[1];
    };
    typedef LONG (WINAPI* QueryFn)(ULONG type, PVOID info, ULONG size, ULONG* needed);
    QueryFn query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return -1;
    const LONG kTooSmall = static_cast<LONG>(0xC0000004);
    std::vector<char> buffer(1 << 20);
    ULONG needed = 0;
    LONG status;
    while ((status = query(64, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) == kTooSmall)
        buffer.resize(buffer.size() * 2);
    if (status != 0)
        return -1;
    const List* list = reinterpret_cast<const List*>(buffer.data());
    int count = 0;
    for (ULONG_PTR i = 0; i < list->count; ++i)
        if (list->entries[i].process == GetCurrentProcessId())
            ++count;
    return count;
}

}  // namespace tktest

#endif
