/* private_bytes.h -- the process's committed private memory, for tests that
 * check that work leaves none behind. */
#ifndef TOOLS_TESTS_PRIVATE_BYTES_H
#define TOOLS_TESTS_PRIVATE_BYTES_H

#include <windows.h>
#include <psapi.h>

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

}  // namespace tktest

#endif
