/* The call stacks of exceptions through tools.dll as a host reads them:
 * where a fault, a fault in a library and a throw by code arose, each
 * frame named from the modules' own debug information, inlined calls as
 * frames of their own, and the text's bounds. Built at -O2 without frame
 * pointers, as a host's release build is. */
#include <gtest/gtest.h>

#include <ctype.h>
#include <string.h>

#include <string>
#include <vector>

#include "tools/runtime.h"
#include "support/caught.h"
#include "support/guarded_buffer.h"

/* Outside any namespace, so the names read as the tests write them. The
 * calls add to what they return, so that none of them is a tail call that
 * leaves no frame behind. */
volatile int g_stackZero = 0;
const int kLeafLine = __LINE__ + 1;
__attribute__((noipa)) int StackLeaf(int a) { return a / g_stackZero; }
const int kInlinedCallLine = __LINE__ + 1;
__attribute__((always_inline)) inline int StackInlined(int a) { return StackLeaf(a * 3) + 1; }
const int kMiddleCallLine = __LINE__ + 1;
__attribute__((noipa)) int StackMiddle(int a) { return StackInlined(a + 1) + 2; }
const int kOuterCallLine = __LINE__ + 1;
__attribute__((noipa)) int StackOuter(int a) { return StackMiddle(a) + 3; }
const int kThrowLine = __LINE__ + 1;
__attribute__((noipa)) void StackThrower() { ThrowException(static_cast<long>(E_FAIL), __FILE__, __LINE__); }
volatile int g_stackSink;
/* The store after the call keeps the compiler from turning the recursion
 * into a loop. */
__attribute__((noipa)) int StackRecurse(int depth)
{
    const int result = depth ? StackRecurse(depth - 1) : StackLeaf(depth);
    g_stackSink = result;
    return result;
}
/* Catches a fault of its own: the frames above it are the caller's. */
__attribute__((noipa)) CException* StackCatcher()
{
    try {
        g_stackSink = StackLeaf(1);
    } catch (CException* e) {
        return e;
    }
    return nullptr;
}
__attribute__((noipa)) CException* StackFromOneCaller() { CException* e = StackCatcher(); g_stackSink = 1; return e; }
__attribute__((noipa)) CException* StackFromAnother() { CException* e = StackCatcher(); g_stackSink = 2; return e; }
const int kThreadThrowLine = __LINE__ + 4;
DWORD WINAPI StackThread(void* caught)
{
    try {
        ThrowException(static_cast<long>(E_FAIL));
    } catch (CException* e) {
        *static_cast<CException**>(caught) = e;
    }
    return 0;
}

namespace {

using tktest::Caught;

std::vector<std::string> StackLines(const CException& e)
{
    std::vector<char> text(64 * 1024);
    const int n = e.GetCallStack(text.data(), static_cast<unsigned long>(text.size()));
    std::vector<std::string> lines;
    const std::string all(text.data(), n > 0 ? n : 0);
    for (size_t at = 0; at < all.size();) {
        const size_t end = all.find('\n', at);
        lines.push_back(all.substr(at, end - at));
        at = end == std::string::npos ? all.size() : end + 1;
    }
    return lines;
}

/* "#N  0x<all the digits of a pointer> in " */
std::string AddressPrefix(int number)
{
    return "#" + std::to_string(number) + "  0x";
}

bool HasAddress(const std::string& line, int number)
{
    const std::string prefix = AddressPrefix(number);
    const size_t digits = 2 * sizeof(void*);
    if (line.compare(0, prefix.size(), prefix) != 0 || line.size() < prefix.size() + digits + 4)
        return false;
    for (size_t i = 0; i < digits; ++i)
        if (!isxdigit(static_cast<unsigned char>(line[prefix.size() + i])))
            return false;
    return line.compare(prefix.size() + digits, 4, " in ") == 0;
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

/* One expected line: its number, whether it shows an address, the
 * function, and the end of its place. */
struct FrameRow {
    int number;
    bool address;
    const char* function;
    std::string place;
};

void ExpectFrames(const std::vector<std::string>& lines, const std::vector<FrameRow>& rows)
{
    ASSERT_GE(lines.size(), rows.size());
    for (const FrameRow& row : rows) {
        const std::string& line = lines[row.number];
        SCOPED_TRACE(line);
        if (row.address) {
            EXPECT_TRUE(HasAddress(line, row.number));
            EXPECT_NE(line.find(std::string(" in ") + row.function + " at "), std::string::npos);
        } else {
            EXPECT_EQ(line.compare(0, line.find(' ') + 2, "#" + std::to_string(row.number) + "  "), 0);
            EXPECT_NE(line.find(std::string("  ") + row.function + " at "), std::string::npos);
            EXPECT_EQ(line.find(" 0x"), std::string::npos);
        }
        EXPECT_TRUE(EndsWith(line, row.place));
    }
}

std::string Here(int line)
{
    return "call_stack_test.cpp:" + std::to_string(line);
}

class CallStack : public ::testing::Test {
protected:
    static void SetUpTestSuite() { TkInitialize(); }
    static void TearDownTestSuite() { TkTerminate(); }
};

TEST_F(CallStack, AFaultThreeCallsDeepNamesEachFrameAndTheInlinedCall)
{
    CException* e = Caught([] { StackOuter(7); });
    ASSERT_NE(e, nullptr);
    const std::vector<std::string> lines = StackLines(*e);
    ExpectFrames(lines, {
        { 0, true, "StackLeaf(int)", Here(kLeafLine) },
        { 1, false, "StackInlined(int)", Here(kInlinedCallLine) },
        { 2, true, "StackMiddle(int)", Here(kMiddleCallLine) },
        { 3, true, "StackOuter(int)", Here(kOuterCallLine) },
    });
    /* The copy a handler may keep carries the same stack. */
    CRunTimeException copy(*static_cast<CRunTimeException*>(e));
    EXPECT_EQ(StackLines(copy), lines);
    e->Delete();
}

TEST_F(CallStack, AThrowByCodeStartsAtTheCallOfTheHelper)
{
    CException* e = Caught([] { StackThrower(); });
    ASSERT_NE(e, nullptr);
    ExpectFrames(StackLines(*e), { { 0, true, "StackThrower()", Here(kThrowLine) } });
    e->Delete();

    /* An exception the host makes itself starts in the host's own code. */
    const int made = __LINE__ + 1;
    CException own(static_cast<long>(E_FAIL));
    const std::vector<std::string> lines = StackLines(own);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(HasAddress(lines[0], 0)) << lines[0];
    EXPECT_TRUE(EndsWith(lines[0], Here(made))) << lines[0];
}

TEST_F(CallStack, AFaultInALibraryNamesTheLibrarysFunctionAndLine)
{
    HMODULE library = LoadLibraryA("tk_test_lines.dll");
    ASSERT_NE(library, nullptr);
    typedef int (*DivideFn)(int, int);
    typedef int (*LineFn)();
    DivideFn divide = reinterpret_cast<DivideFn>(reinterpret_cast<void*>(GetProcAddress(library, "TkLinesDivide")));
    LineFn line = reinterpret_cast<LineFn>(reinterpret_cast<void*>(GetProcAddress(library, "TkLinesDivideLine")));
    ASSERT_TRUE(divide && line);
    CException* e = Caught([&] { divide(1, g_stackZero); });
    ASSERT_NE(e, nullptr);
    const std::vector<std::string> lines = StackLines(*e);
    ExpectFrames(lines, { { 0, true, "TkLinesDivide", "lines.cpp:" + std::to_string(line()) } });
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(lines[1].find("call_stack_test.cpp:"), std::string::npos) << lines[1];
    e->Delete();
    FreeLibrary(library);
}

TEST_F(CallStack, AWorkerThreadsStackEndsInTheSystemsThreadStart)
{
    CException* e = nullptr;
    HANDLE thread = CreateThread(nullptr, 0, StackThread, &e, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    ASSERT_NE(e, nullptr);
    const std::vector<std::string> lines = StackLines(*e);
    ExpectFrames(lines, { { 0, true, "StackThread(void*)", Here(kThreadThrowLine) } });
    /* Named at least from the system library's exports, which every
     * platform version has; Wine's own library carries debug information
     * and names its line too. */
    bool threadStart = false;
    for (const std::string& line : lines)
        threadStart |= line.find(" in BaseThreadInitThunk ") != std::string::npos;
    EXPECT_TRUE(threadStart) << ::testing::PrintToString(lines);
    e->Delete();
}

TEST_F(CallStack, FaultsCaughtInOnePlaceFromTwoCallersEachKeepTheirOwnCaller)
{
    /* The same catching frame at the same depth, reached from two places
     * by turns: the frames above it differ each time. */
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const struct {
            CException* (*call)();
            const char* caller;
        } rows[] = { { StackFromOneCaller, " in StackFromOneCaller() at " }, { StackFromAnother, " in StackFromAnother() at " } };
        for (const auto& row : rows) {
            CException* e = row.call();
            ASSERT_NE(e, nullptr);
            const std::vector<std::string> lines = StackLines(*e);
            ASSERT_GE(lines.size(), 3u);
            EXPECT_NE(lines[1].find(" in StackCatcher() at "), std::string::npos) << lines[1];
            EXPECT_NE(lines[2].find(row.caller), std::string::npos) << lines[2];
            e->Delete();
        }
    }
}

/* Reads a fault's text and call stack over and over, as a host's worker
 * threads may report their faults at once. */
DWORD WINAPI ReadOverAndOver(void* fault)
{
    const CException& e = *static_cast<CException*>(fault);
    const std::vector<std::string> expected = StackLines(e);
    for (int i = 0; i < 300; ++i) {
        if (i % 100 == 50) {
            char text[256];
            static_cast<CException*>(fault)->GetErrorMessage(text, sizeof text);
        }
        if (StackLines(e) != expected)
            return 1;
    }
    return 0;
}

TEST_F(CallStack, ThreadsReadTextsAndStacksAtOnce)
{
    /* Each thread's text restarts the process's lookup, which the others'
     * stacks are reading: they take it by turns. */
    CException* faults[4] = {};
    for (CException*& e : faults) {
        e = Caught([] { StackOuter(7); });
        ASSERT_NE(e, nullptr);
    }
    HANDLE threads[4];
    for (int i = 0; i < 4; ++i) {
        threads[i] = CreateThread(nullptr, 0, ReadOverAndOver, faults[i], 0, nullptr);
        ASSERT_NE(threads[i], nullptr);
    }
    WaitForMultipleObjects(4, threads, TRUE, INFINITE);
    for (int i = 0; i < 4; ++i) {
        DWORD code = 2;
        GetExitCodeThread(threads[i], &code);
        EXPECT_EQ(code, 0u) << "thread " << i << " read another stack";
        CloseHandle(threads[i]);
        faults[i]->Delete();
    }
}

TEST_F(CallStack, ADeepStackIsCutAtSixtyFourFrames)
{
    CException* e = Caught([] { StackRecurse(100); });
    ASSERT_NE(e, nullptr);
    const std::vector<std::string> lines = StackLines(*e);
    ASSERT_EQ(lines.size(), 64u);
    EXPECT_NE(lines[0].find(" in StackLeaf(int) at "), std::string::npos) << lines[0];
    EXPECT_NE(lines[63].find(" in StackRecurse(int) at "), std::string::npos) << lines[63];
    e->Delete();
}

TEST_F(CallStack, TheTextIsCutOnlyAfterAWholeLine)
{
    CException* e = Caught([] { StackOuter(7); });
    ASSERT_NE(e, nullptr);
    const std::vector<std::string> lines = StackLines(*e);
    ASSERT_GE(lines.size(), 2u);
    const size_t first = lines[0].size() + 1;
    struct Row {
        size_t size;
        int stored;
    } rows[] = {
        { 1, 0 },                                                  /* the terminator alone */
        { first, 0 },                                              /* one byte short of the first line */
        { first + 1, static_cast<int>(first) },                    /* the first line exactly */
        { first + lines[1].size() + 1, static_cast<int>(first) },  /* one short of two lines */
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        tktest::GuardedBuffer buffer(row.size);
        EXPECT_EQ(e->GetCallStack(buffer.Data(), static_cast<unsigned long>(row.size)), row.stored);
        EXPECT_TRUE(buffer.Intact());
        EXPECT_EQ(strlen(buffer.Data()), static_cast<size_t>(row.stored));
        EXPECT_EQ(std::string(buffer.Data(), row.stored), (lines[0] + "\n").substr(0, row.stored));
    }
    tktest::GuardedBuffer none(8);
    EXPECT_EQ(e->GetCallStack(none.Data(), 0), 0);
    EXPECT_TRUE(none.Untouched());
    EXPECT_EQ(e->GetCallStack(nullptr, 100), 0);
    e->Delete();
}

}  // namespace
