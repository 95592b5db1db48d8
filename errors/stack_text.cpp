/* stack_text.cpp -- the lines of a call stack's text. */
#include <stdarg.h>
#include <stdio.h>

#include "errors/stack_text.h"

namespace tk {

namespace {

const char kUnknown[] = "??";
/* Addresses have all the digits of a pointer, as a debugger shows them. */
const int kAddressDigits = 2 * sizeof(void*);

}  // namespace

StackText::StackText(char* buffer, unsigned long size)
    : buffer_(buffer), size_(buffer ? size : 0), length_(0), number_(0), full_(false)
{
    if (size_)
        buffer_[0] = '\0';
}

void StackText::Restart(char* buffer, unsigned long size)
{
    buffer_ = buffer;
    size_ = buffer ? size : 0;
    length_ = 0;
    full_ = false;
    if (size_)
        buffer_[0] = '\0';
}

bool StackText::Line(const char* format, ...)
{
    if (full_)
        return false;
    const unsigned long room = size_ - length_;
    va_list args;
    va_start(args, format);
    const int wanted = room ? vsnprintf(buffer_ + length_, room, format, args) : -1;
    va_end(args);
    if (wanted < 0 || static_cast<unsigned long>(wanted) >= room) {
        /* Only whole lines: what this one left behind goes. */
        if (room)
            buffer_[length_] = '\0';
        full_ = true;
        return false;
    }
    length_ += static_cast<unsigned long>(wanted);
    return true;
}

bool StackText::Where(const CallName& call, const char* module)
{
    if (call.file)
        return Line(" at %s:%lu\n", call.file, static_cast<unsigned long>(call.line));
    if (module)
        return Line(" from %s\n", module);
    return Line("\n");
}

bool StackText::CallLine(const CallName& call, const char* module, const DWORD_PTR* address)
{
    const unsigned long start = length_;
    const char* function = call.function ? call.function : kUnknown;
    const bool begun = address ? Line("#%d  0x%0*llx in %s", number_, kAddressDigits,
                                      static_cast<unsigned long long>(*address), function)
                               : Line("#%d  %s", number_, function);
    if (begun && Where(call, module)) {
        ++number_;
        return true;
    }
    /* A line is kept or dropped whole: its first part goes too. */
    length_ = start;
    if (size_)
        buffer_[length_] = '\0';
    return false;
}

bool StackText::AddFrame(DWORD_PTR address, const FrameNames& names)
{
    /* The inlined calls, innermost first, then the function compiled
     * there, which alone shows the address. */
    for (int i = 0; i + 1 < names.count; ++i)
        if (!CallLine(names.calls[i], names.module, nullptr))
            return false;
    static const CallName kNothing = { nullptr, nullptr, 0 };
    return CallLine(names.count ? names.calls[names.count - 1] : kNothing, names.module, &address);
}

}  // namespace tk
