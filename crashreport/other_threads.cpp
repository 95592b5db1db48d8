/* other_threads.cpp -- the stacks of the process's other threads. */
#include <winternl.h>

#include "base/allocation.h"
#include "crashreport/crash_platform.h"
#include "crashreport/report_parts.h"
#include "frames/processor.h"

namespace tk {

namespace {

const NTSTATUS kLengthMismatch = static_cast<NTSTATUS>(0xC0000004);

/* The process list, in a block of its own; null when it cannot be read. */
const SYSTEM_PROCESS_INFORMATION* ProcessList(void** block)
{
    const CrashReportPlatform& platform = CrashReportSeam().Calls();
    ULONG size = 64 * 1024;
    for (int attempt = 0; attempt < 6; ++attempt, size *= 2) {
        *block = Allocate(size);
        if (!*block)
            return nullptr;
        ULONG needed = 0;
        const NTSTATUS status = platform.queryProcesses(*block, size, &needed);
        if (status >= 0)
            return static_cast<const SYSTEM_PROCESS_INFORMATION*>(*block);
        Release(*block);
        *block = nullptr;
        if (status != kLengthMismatch)
            return nullptr;
        if (needed > size)
            size = needed;
    }
    return nullptr;
}

/* Walks one thread, suspended for the walk. */
bool RecordThread(DWORD id, ThreadFrames* frames)
{
    const CrashReportPlatform& platform = CrashReportSeam().Calls();
    const CrashHandle thread(
        platform.openThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, id));
    if (!thread)
        return false;
    frames->thread = id;
    frames->count = 0;
    if (platform.suspendThread(thread.Get()) == static_cast<DWORD>(-1))
        return false;
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_FULL;
    void* block = nullptr;
    if (platform.getThreadContext(thread.Get(), &context) && platform.queryThreadBlock(thread.Get(), &block) >= 0 &&
        block) {
        const NT_TIB* tib = static_cast<const NT_TIB*>(block);
        frames->count = RecordThreadStack(context, reinterpret_cast<DWORD_PTR>(tib->StackLimit),
                                          reinterpret_cast<DWORD_PTR>(tib->StackBase), frames->frames,
                                          kMostStackFrames);
    }
    platform.resumeThread(thread.Get());
    return true;
}

}  // namespace

int RecordOtherThreads(DWORD skipA, DWORD skipB, ThreadFrames* threads, int most)
{
    void* block = nullptr;
    const SYSTEM_PROCESS_INFORMATION* process = ProcessList(&block);
    const DWORD self = GetCurrentProcessId();
    int count = 0;
    while (process) {
        if (reinterpret_cast<DWORD_PTR>(process->UniqueProcessId) == self) {
            const SYSTEM_THREAD_INFORMATION* thread = reinterpret_cast<const SYSTEM_THREAD_INFORMATION*>(process + 1);
            for (ULONG i = 0; i < process->NumberOfThreads && count < most; ++i) {
                const DWORD id = static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(thread[i].ClientId.UniqueThread));
                if (id != skipA && id != skipB && RecordThread(id, &threads[count]))
                    ++count;
            }
            break;
        }
        if (!process->NextEntryOffset)
            break;
        process = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(reinterpret_cast<const char*>(process) +
                                                                      process->NextEntryOffset);
    }
    Release(block);
    return count;
}

}  // namespace tk
