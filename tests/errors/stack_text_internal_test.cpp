/* The lines of a call stack's text: what was found at each address in,
 * the backtrace's lines out. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errors/stack_text.h"
#include "support/guarded_buffer.h"

namespace {

using tk::CallName;
using tk::FrameNames;
using tk::StackText;

/* The address as the text shows it: every digit of a pointer. */
std::string Hex(DWORD_PTR address)
{
    char text[32];
    snprintf(text, sizeof text, "0x%0*llx", static_cast<int>(2 * sizeof(void*)),
             static_cast<unsigned long long>(address));
    return text;
}

struct Frame {
    DWORD_PTR address;
    const char* module;
    std::vector<CallName> calls;
};

FrameNames Names(const Frame& frame)
{
    FrameNames names = {};
    names.module = frame.module;
    names.count = static_cast<int>(frame.calls.size());
    for (size_t i = 0; i < frame.calls.size(); ++i)
        names.calls[i] = frame.calls[i];
    return names;
}

std::string Text(const std::vector<Frame>& frames, size_t size, int* stored)
{
    tktest::GuardedBuffer buffer(size);
    StackText text(buffer.Data(), static_cast<unsigned long>(size));
    for (const Frame& frame : frames)
        if (!text.AddFrame(frame.address, Names(frame)))
            break;
    *stored = text.Length();
    EXPECT_TRUE(buffer.Intact());
    return size ? std::string(buffer.Data()) : std::string();
}

const char kModule[] = "C:\\bench\\kernel.dll";

TEST(StackText, EachFrameAsADebuggersBacktraceShowsIt)
{
    const DWORD_PTR a = 0x401000, b = 0x402345;
    struct Row {
        const char* what;
        std::vector<Frame> frames;
        std::string text;
    } rows[] = {
        { "a function with its line",
          { { a, kModule, { { "leaf(int)", "C:/src/kernel.cpp", 31 } } } },
          "#0  " + Hex(a) + " in leaf(int) at C:/src/kernel.cpp:31\n" },
        { "inlined calls, innermost first, without addresses; numbers run on over frames",
          { { a, kModule, { { "inner()", "C:/src/k.h", 40 }, { "mid()", "C:/src/k.h", 9 }, { "outer()", "C:/src/k.cpp", 47 } } },
            { b, kModule, { { "main", "C:/src/main.cpp", 5 } } } },
          "#0  inner() at C:/src/k.h:40\n#1  mid() at C:/src/k.h:9\n#2  " + Hex(a) +
              " in outer() at C:/src/k.cpp:47\n#3  " + Hex(b) + " in main at C:/src/main.cpp:5\n" },
        { "a name without a line names the module",
          { { a, kModule, { { "BaseThreadInitThunk", nullptr, 0 } } } },
          "#0  " + Hex(a) + " in BaseThreadInitThunk from " + kModule + "\n" },
        { "nothing known but the module",
          { { a, kModule, {} } },
          "#0  " + Hex(a) + " in ?? from " + kModule + "\n" },
        { "nothing known at all",
          { { a, nullptr, {} } },
          "#0  " + Hex(a) + " in ??\n" },
        { "a line without a function",
          { { a, kModule, { { nullptr, "C:/src/k.cpp", 12 } } } },
          "#0  " + Hex(a) + " in ?? at C:/src/k.cpp:12\n" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        int stored = -1;
        EXPECT_EQ(Text(row.frames, 4096, &stored), row.text);
        EXPECT_EQ(stored, static_cast<int>(row.text.size()));
    }
}

TEST(StackText, OnlyWholeLinesAreKept)
{
    const std::vector<Frame> frames = {
        { 0x401000, kModule, { { "inner()", "k.h", 40 }, { "outer()", "k.cpp", 47 } } },
        { 0x402000, kModule, { { "main", "m.cpp", 5 } } },
    };
    int stored = 0;
    const std::string whole = Text(frames, 4096, &stored);
    const size_t first = whole.find('\n') + 1, second = whole.find('\n', first) + 1;
    struct Row {
        size_t size;
        size_t kept;
    } rows[] = {
        { 0, 0 }, { 1, 0 }, { first, 0 }, { first + 1, first }, { second, first }, { second + 1, second },
        { whole.size(), second }, { whole.size() + 1, whole.size() },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        EXPECT_EQ(Text(frames, row.size, &stored), whole.substr(0, row.kept));
        EXPECT_EQ(stored, static_cast<int>(row.kept));
    }
}

}  // namespace
