/* report_out.cpp -- a report file written through a buffer of its own. */
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "crashreport/report_out.h"

namespace tk {

bool ReportOut::Create(const char* path)
{
    Close();
    file_.Reset(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    used_ = 0;
    return Opened();
}

void ReportOut::Print(const char* format, ...)
{
    if (!Opened())
        return;
    /* A line is formatted whole into the free part; when it does not fit,
     * the buffer goes out first and the line is formatted again. */
    for (int attempt = 0; attempt < 2; ++attempt) {
        const size_t room = sizeof buffer_ - used_;
        va_list args;
        va_start(args, format);
        const int wanted = vsnprintf(buffer_ + used_, room, format, args);
        va_end(args);
        if (wanted < 0)
            return;
        if (static_cast<size_t>(wanted) < room) {
            used_ += static_cast<size_t>(wanted);
            return;
        }
        if (used_ == 0) {
            used_ = room - 1;   /* longer than the buffer: cut */
            return;
        }
        Flush();
    }
}

void ReportOut::Write(const char* text, size_t length)
{
    while (Opened() && length) {
        if (used_ == sizeof buffer_)
            Flush();
        size_t n = sizeof buffer_ - used_;
        if (n > length)
            n = length;
        memcpy(buffer_ + used_, text, n);
        used_ += n;
        text += n;
        length -= n;
    }
}

void ReportOut::Flush()
{
    if (!Opened() || !used_)
        return;
    DWORD written = 0;
    WriteFile(file_.Get(), buffer_, static_cast<DWORD>(used_), &written, nullptr);
    used_ = 0;
}

void ReportOut::Close()
{
    if (!Opened())
        return;
    Flush();
    file_.Reset();
}

}  // namespace tk
