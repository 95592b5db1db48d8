/* log.cpp -- the suite's shared, append-only log file. */
#include <stdarg.h>
#include <stdio.h>

#include "tools/util.h"
#include "base/unique_handle.h"

namespace {

struct FileTraits {
    typedef FILE* Handle;
    static FILE* Empty() { return nullptr; }
    static void Close(FILE* file) { fclose(file); }
};

}  // namespace

unsigned long TkLog(const char* format, ...)
{
    if (!format)
        return 0;
    char text[512];
    va_list args;
    va_start(args, format);
    int result = _vsnprintf(text, sizeof text, format, args);
    va_end(args);
    /* The formatter leaves no terminator when the text fills the buffer or
     * more; the file gets its first 511 characters. */
    text[sizeof text - 1] = '\0';

    /* Opened and closed on every call, so that the file is complete after
     * each message, whichever program of the suite wrote it. */
    tk::UniqueHandle<FileTraits> file(fopen("vq_tools.log", "at"));
    if (file)
        fputs(text, file.Get());
    return static_cast<unsigned long>(result);
}
