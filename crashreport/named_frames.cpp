/* named_frames.cpp -- a crash report's call stacks, named, with the source
 * lines around each line they name. */
#include <string.h>

#include "base/allocation.h"
#include "crashreport/crash_platform.h"
#include "crashreport/report_parts.h"
#include "errors/stack_text.h"

namespace tk {

namespace {

/* Source files are read this much at a time, and only this far: a line
 * beyond it is not shown. */
const DWORD kChunk = 16 * 1024;
const DWORD kMostRead = 16 * 1024 * 1024;
/* Longer source lines are cut. */
const int kLineShown = 160;
const DWORD kAround = 2;

}  // namespace

void WriteSourceLines(ReportOut& out, const char* file, DWORD line)
{
    if (!file || !line)
        return;
    const CrashFile opened(CreateFileA(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!opened)
        return;
    char* chunk = static_cast<char*>(Allocate(kChunk));
    const DWORD first = line > kAround ? line - kAround : 1;
    const DWORD last = line + kAround;
    DWORD number = 1, read = 0, total = 0, shown = 0;
    int column = 0;
    bool lineStarted = false;
    while (chunk && number <= last && total < kMostRead && ReadFile(opened.Get(), chunk, kChunk, &read, nullptr) && read) {
        total += read;
        for (DWORD i = 0; i < read && number <= last; ++i) {
            const char c = chunk[i];
            const bool wanted = number >= first;
            if (wanted && !lineStarted) {
                out.Print("      %s %5lu  ", number == line ? ">" : " ", number);
                lineStarted = true;
                column = 0;
            }
            if (c == '\n') {
                if (wanted) {
                    out.Print("\n");
                    ++shown;
                }
                lineStarted = false;
                ++number;
            } else if (wanted && c != '\r' && column++ < kLineShown) {
                out.Write(&c, 1);
            }
        }
    }
    if (lineStarted)
        out.Print("\n");
    Release(chunk);
}

void WriteNamedFrames(ReportOut& out, CSymbolLookup& lookup, const ThreadFrames& frames, bool faulting)
{
    const CSymbolLookup::StackScope scope(lookup);
    char lines[4096];
    StackText text(lines, sizeof lines);
    for (int i = 0; i < frames.count; ++i) {
        const DWORD_PTR address = frames.frames[i];
        /* A return address follows its call, whose line is the one wanted. */
        const DWORD_PTR at = i == 0 && faulting ? address : address - 1;
        FrameNames names;
        lookup.NameFrame(at, &names);
        text.Restart(lines, sizeof lines);
        text.AddFrame(address, names);
        out.Write(lines, static_cast<size_t>(text.Length()));
        for (int call = 0; call < names.count; ++call)
            WriteSourceLines(out, names.calls[call].file, names.calls[call].line);
        out.Flush();
    }
}

}  // namespace tk
