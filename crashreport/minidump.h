/* minidump.h -- a minidump of the process through the platform's
 * debug-help library, loaded when reports go on rather than when the
 * process is ending. */
#ifndef TOOLS_CRASHREPORT_MINIDUMP_H
#define TOOLS_CRASHREPORT_MINIDUMP_H

#include <windows.h>

#include "crashreport/crash_platform.h"

namespace tk {

class MiniDumpWriter {
public:
    MiniDumpWriter() : library_(), write_(nullptr) {}

    /* Loads the library and finds MiniDumpWriteDump; without either there
     * is no minidump. */
    void Load();
    void Unload();
    bool Available() const { return write_ != nullptr; }

    /* Writes the minidump of the process, with the exception of thread as
     * its exception, to a new file at path. */
    bool Write(const char* path, DWORD thread, EXCEPTION_POINTERS* pointers) const;

private:
    MiniDumpWriter(const MiniDumpWriter&) = delete;
    MiniDumpWriter& operator=(const MiniDumpWriter&) = delete;

    typedef BOOL(WINAPI* WriteFn)(HANDLE process, DWORD pid, HANDLE file, int type, const void* exception,
                                  const void* userStreams, const void* callback);
    CrashModule library_;
    WriteFn write_;
};

}  // namespace tk

#endif
