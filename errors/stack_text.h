/* stack_text.h -- the lines of a call stack's text, as a debugger prints a
 * backtrace: numbered frames, innermost first, an inlined call as a frame
 * of its own without an address. */
#ifndef TOOLS_ERRORS_STACK_TEXT_H
#define TOOLS_ERRORS_STACK_TEXT_H

#include <windows.h>

#include "sourceline/frame_names.h"

namespace tk {

/* Writes lines into a caller's buffer of size bytes (terminator included),
 * whole lines only: the first line that does not fit ends the text, and
 * what was written before it stays. A null buffer counts as size 0. */
class StackText {
public:
    StackText(char* buffer, unsigned long size);

    /* Adds the lines of one recorded frame: address is what the frame
     * shows (the faulting instruction, or a return address), names what
     * was found at it. False once the text is full. */
    bool AddFrame(DWORD_PTR address, const FrameNames& names);

    /* Goes on in another buffer, as if it followed the text so far: the
     * frames' numbers go on. For a text that puts other lines between the
     * frames. */
    void Restart(char* buffer, unsigned long size);

    /* The characters written, terminator not counted. */
    int Length() const { return static_cast<int>(length_); }

private:
    StackText(const StackText&) = delete;
    StackText& operator=(const StackText&) = delete;

    bool Line(const char* format, ...) __attribute__((format(printf, 2, 3)));
    /* " at FILE:LINE", " from MODULE" or nothing, and the line's end. */
    bool Where(const CallName& call, const char* module);
    /* One call's line, with the address when one is given. */
    bool CallLine(const CallName& call, const char* module, const DWORD_PTR* address);

    char* buffer_;
    unsigned long size_;
    unsigned long length_;
    int number_;
    bool full_;
};

}  // namespace tk

#endif
