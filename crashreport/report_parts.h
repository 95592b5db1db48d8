/* report_parts.h -- the parts of a crash report's text, each written on
 * the reporter's thread while the thread it reports on waits.
 *
 * The raw parts read only the fault's record and context, the thread's
 * stack and the loaded images; the named parts read debug information
 * through a lookup of the reporter's own. */
#ifndef TOOLS_CRASHREPORT_REPORT_PARTS_H
#define TOOLS_CRASHREPORT_REPORT_PARTS_H

#include <windows.h>

#include "crashreport/report_out.h"
#include "frames/call_stack.h"
#include "sourceline/symbol_lookup.h"

namespace tk {

/* What the thread that ended hands the reporter. */
struct CrashJob {
    /* The fault no catch took; null for a C++ exception that none took. */
    EXCEPTION_POINTERS* pointers;
    DWORD thread;
    DWORD_PTR stackLow, stackHigh;     /* its stack */
    /* A C++ exception's code, text and call stack, as the exception gives
     * them. */
    long cxxCode;
    const char* cxxText;
    const char* cxxStack;
};

/* A thread's frames, from the instruction where it stood up. */
struct ThreadFrames {
    DWORD thread;
    int count;
    DWORD_PTR frames[kMostStackFrames];
};

/* Time, program and its version, Windows' version, process and thread. */
void WriteHeader(ReportOut& out, const CrashJob& job, const char* program);

/* Code, address, the access of an access violation, the faulting module
 * and offset, and the registers. */
void WriteException(ReportOut& out, const CrashJob& job);

/* The faulting thread's frames, read from the fault's context. */
void RecordFaultFrames(const CrashJob& job, ThreadFrames* frames);

/* Each frame's address with its module and offset. */
void WriteAddresses(ReportOut& out, const ThreadFrames& frames);

/* Base, size, time stamp, file version and path of each loaded image. */
void WriteModules(ReportOut& out);

/* The exception's text, as CException::GetErrorMessage words it. */
void WriteExceptionText(ReportOut& out, const CrashJob& job);

/* The frames named as CException::GetCallStack names them, each followed
 * by the source lines around each of its lines where the file can be
 * read. faulting: the first frame's address is the faulting instruction
 * rather than a return address. */
void WriteNamedFrames(ReportOut& out, CSymbolLookup& lookup, const ThreadFrames& frames, bool faulting);

/* Records the frames of each other thread of the process, all but the
 * ones named, each suspended while it is walked; returns how many threads
 * it recorded, at most most. */
int RecordOtherThreads(DWORD skipA, DWORD skipB, ThreadFrames* threads, int most);

/* Up to two lines of file on either side of line, that one marked. */
void WriteSourceLines(ReportOut& out, const char* file, DWORD line);

}  // namespace tk

#endif
