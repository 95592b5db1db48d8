/* log.cpp -- the suite's shared, append-only log file. */
#include <stdarg.h>
#include <stdio.h>

#include "tools/util.h"

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
    FILE* file = fopen("vq_tools.log", "at");
    if (file) {
        fputs(text, file);
        fclose(file);
    }
    return static_cast<unsigned long>(result);
}
