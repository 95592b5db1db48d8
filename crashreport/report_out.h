/* report_out.h -- a report file written through a buffer of its own.
 *
 * For a report made while the process's heap may be broken: formatting
 * goes into the object's own buffer and out with WriteFile, and nothing is
 * allocated. A line too long for the buffer is cut. */
#ifndef TOOLS_CRASHREPORT_REPORT_OUT_H
#define TOOLS_CRASHREPORT_REPORT_OUT_H

#include <windows.h>

#include "crashreport/crash_platform.h"

namespace tk {

class ReportOut {
public:
    ReportOut() : file_(), used_(0) {}
    ~ReportOut() { Close(); }

    /* Makes the file at path, which must not exist yet. False, with the
     * system's last-error code, when it cannot be made. */
    bool Create(const char* path);
    bool Opened() const { return file_.Valid(); }

    void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Write(const char* text, size_t length);
    /* Puts what the buffer holds into the file, so that it stays whatever
     * happens to the writer next. */
    void Flush();
    void Close();

private:
    ReportOut(const ReportOut&) = delete;
    ReportOut& operator=(const ReportOut&) = delete;

    CrashFile file_;
    size_t used_;
    char buffer_[4096];
};

}  // namespace tk

#endif
