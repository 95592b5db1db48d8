/* minidump.cpp -- a minidump through the platform's debug-help library. */
#include "crashreport/minidump.h"

namespace tk {

namespace {

/* MINIDUMP_EXCEPTION_INFORMATION, whose header the library's users need
 * not have. */
#pragma pack(push, 4)
struct ExceptionInformation {
    DWORD threadId;
    EXCEPTION_POINTERS* pointers;
    BOOL clientPointers;
};
#pragma pack(pop)

/* MiniDumpNormal: the threads with their stacks, the modules, the
 * exception. */
const int kNormal = 0;

}  // namespace

void MiniDumpWriter::Load()
{
    const CrashReportPlatform& platform = CrashReportSeam().Calls();
    library_.Reset(platform.loadLibrary("dbghelp.dll"));
    write_ = library_ ? reinterpret_cast<WriteFn>(
                            reinterpret_cast<void*>(platform.getProcAddress(library_.Get(), "MiniDumpWriteDump")))
                      : nullptr;
}

void MiniDumpWriter::Unload()
{
    write_ = nullptr;
    library_.Reset();
}

bool MiniDumpWriter::Write(const char* path, DWORD thread, EXCEPTION_POINTERS* pointers) const
{
    if (!write_)
        return false;
    const CrashFile file(
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    ExceptionInformation exception = { thread, pointers, FALSE };
    return write_(GetCurrentProcess(), GetCurrentProcessId(), file.Get(), kNormal, &exception, nullptr, nullptr);
}

}  // namespace tk
