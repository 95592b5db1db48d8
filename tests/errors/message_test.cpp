/* Exception texts through tools.dll as a host reads them: the system's
 * texts, the library's table, the access-violation format, the unknown-code
 * line, small buffers, and the source line a fault's text finds. */
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "tools/runtime.h"
#include "support/caught.h"
#include "support/fault_makers.h"
#include "support/guarded_buffer.h"

namespace {

using tktest::Divide;
using tktest::g_zero;
using tktest::kDivideLine;
using tktest::ReadAt;
using tktest::WriteAt;

const char kDivideText[] = "The thread tried to divide an integer value by an integer divisor of zero.\n";

using tktest::Caught;

/* Declared first, so it runs before the suite below calls TkInitialize: a
 * source-line lookup made then finds its line, and leaves the engine able
 * to start again for later ones. */
TEST(MessageBeforeInitialize, ALookupBeforeTkInitializeFindsItsLineAndLeavesLaterLookupsWorking)
{
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = EXCEPTION_INT_DIVIDE_BY_ZERO;
    record.ExceptionAddress = reinterpret_cast<void*>(&Divide);
    CONTEXT context = {};
    EXCEPTION_POINTERS pointers = { &record, &context };
    CRunTimeException early(&pointers);
    char text[256];
    EXPECT_EQ(early.GetErrorMessage(text, sizeof text), 75);
    ASSERT_NE(early.m_pszFile, nullptr);
    EXPECT_EQ(early.m_nLine, kDivideLine);
}

class Message : public ::testing::Test {
protected:
    static void SetUpTestSuite() { TkInitialize(); }
    static void TearDownTestSuite() { TkTerminate(); }
};

TEST_F(Message, TheSystemsTextLeavesTheLocationAlone)
{
    static const char file[] = "memory.cpp";
    CException* e = Caught([] { ThrowMemoryException(file, 12); });
    ASSERT_NE(e, nullptr);
    char text[256];
    int n = e->GetErrorMessage(text, sizeof text);
    EXPECT_GT(n, 0);
    EXPECT_EQ(n, static_cast<int>(strlen(text)));
    EXPECT_EQ(e->m_pszFile, file);
    EXPECT_EQ(e->m_nLine, 12);

    /* A system text with an insert is shown as it stands rather than lost. */
    CException inserts(static_cast<long>(0x800700C1));
    n = inserts.GetErrorMessage(text, sizeof text);
    EXPECT_GT(n, 0);
    EXPECT_NE(strstr(text, "%1"), nullptr) << text;
}

TEST_F(Message, ADivisionByZeroFindsItsTextAndSourceLine)
{
    CException* e = Caught([] { Divide(1, g_zero); });
    ASSERT_NE(e, nullptr);
    char text[256];
    EXPECT_EQ(e->GetErrorMessage(text, sizeof text), 75);
    EXPECT_STREQ(text, kDivideText);
    ASSERT_NE(e->m_pszFile, nullptr);
    const std::string file = e->m_pszFile;
    EXPECT_EQ(file.substr(file.find_last_of("/\\") + 1), "fault_makers.h") << file;
    EXPECT_EQ(e->m_nLine, kDivideLine);

    /* A second text restarts the symbol engine; the location stays right. */
    const char* first = e->m_pszFile;
    e->GetErrorMessage(text, sizeof text);
    EXPECT_EQ(e->m_pszFile, first);
    EXPECT_EQ(file, first);
    EXPECT_EQ(e->m_nLine, kDivideLine);
    e->Delete();
}

TEST_F(Message, AnAccessViolationNamesTheAccessAndTheAddress)
{
    char text[256];
    CException* read = Caught([] { ReadAt(0); });
    ASSERT_NE(read, nullptr);
    const char readText[] =
        "The thread tried to read from a virtual address 0x00000000 for which it does not have the appropriate "
        "access.\n";
    EXPECT_EQ(read->GetErrorMessage(text, sizeof text), static_cast<int>(strlen(readText)));
    EXPECT_STREQ(text, readText);

    CException* write = Caught([] { WriteAt(0x1234ABCD); });
    ASSERT_NE(write, nullptr);
    write->GetErrorMessage(text, sizeof text);
    EXPECT_STREQ(text,
                 "The thread tried to write to a virtual address 0x1234abcd for which it does not have the "
                 "appropriate access.\n");

    /* The whole address on x86_64; i686 has only the low half of these
     * bits, printed with eight digits as ever. */
    CException* high = Caught([] { WriteAt(static_cast<uintptr_t>(0x00007EDC00004560ull)); });
    ASSERT_NE(high, nullptr);
    high->GetErrorMessage(text, sizeof text);
    EXPECT_STREQ(text, sizeof(void*) == 8
                           ? "The thread tried to write to a virtual address 0x7edc00004560 for which it does not "
                             "have the appropriate access.\n"
                           : "The thread tried to write to a virtual address 0x00004560 for which it does not have "
                             "the appropriate access.\n");
    high->Delete();

    /* Cut to a small buffer, never past it. */
    tktest::GuardedBuffer small(20);
    EXPECT_EQ(write->GetErrorMessage(small.Data(), 20), 19);
    EXPECT_STREQ(small.Data(), "The thread tried to");
    EXPECT_TRUE(small.Intact());
    read->Delete();
    write->Delete();
}

TEST_F(Message, SmallBuffersGetWhatFitsAndNoMore)
{
    CException unknown(static_cast<long>(0x20000001));
    tktest::GuardedBuffer wide(32), narrow(31), table(10), none(0);
    EXPECT_EQ(unknown.GetErrorMessage(wide.Data(), 32), 27);
    EXPECT_STREQ(wide.Data(), "Unknown HRESULT = 20000001\n");
    EXPECT_EQ(unknown.GetErrorMessage(narrow.Data(), 31), 0);
    EXPECT_STREQ(narrow.Data(), "");
    EXPECT_TRUE(narrow.Intact());

    CException bounds(static_cast<long>(0xC000008C));
    EXPECT_EQ(bounds.GetErrorMessage(table.Data(), 10), 9);
    EXPECT_STREQ(table.Data(), "The threa");
    EXPECT_TRUE(table.Intact());

    EXPECT_EQ(bounds.GetErrorMessage(none.Data(), 0), 0);
    EXPECT_TRUE(none.Intact());
    EXPECT_EQ(bounds.GetErrorMessage(nullptr, 256), 0);

    /* Room for the terminator alone: an empty text, whatever the kind. */
    tktest::GuardedBuffer one[3] = { tktest::GuardedBuffer(1), tktest::GuardedBuffer(1), tktest::GuardedBuffer(1) };
    EXPECT_EQ(bounds.GetErrorMessage(one[0].Data(), 1), 0);
    EXPECT_EQ(unknown.GetErrorMessage(one[1].Data(), 1), 0);
    CException system(static_cast<long>(E_OUTOFMEMORY));
    EXPECT_EQ(system.GetErrorMessage(one[2].Data(), 1), 0);
    for (tktest::GuardedBuffer& g : one) {
        EXPECT_EQ(g.Data()[0], '\0');
        EXPECT_TRUE(g.Intact());
    }

    /* An access violation thrown by code has a fixed text, cut like any. */
    CException violation(static_cast<long>(0xC0000005));
    tktest::GuardedBuffer cut(12);
    EXPECT_EQ(violation.GetErrorMessage(cut.Data(), 12), 11);
    EXPECT_STREQ(cut.Data(), "The thread ");
    EXPECT_TRUE(cut.Intact());
}

TEST_F(Message, FaultCodesThrownByCodeGetATextAndKeepTheirLocation)
{
    char text[256];
    CException* violation = Caught([] { ThrowException(static_cast<long>(0xC0000005), "thrower.cpp", 7); });
    ASSERT_NE(violation, nullptr);
    EXPECT_GT(violation->GetErrorMessage(text, sizeof text), 0);
    EXPECT_STREQ(text,
                 "The thread tried to read from or write to a virtual address for which it does not have the "
                 "appropriate access.\n");
    EXPECT_STREQ(violation->m_pszFile, "thrower.cpp");
    EXPECT_EQ(violation->m_nLine, 7);

    CException* divide = Caught([] { ThrowException(static_cast<long>(0xC0000094)); });
    ASSERT_NE(divide, nullptr);
    EXPECT_EQ(divide->GetErrorMessage(text, sizeof text), 75);
    EXPECT_EQ(divide->m_pszFile, nullptr);
    EXPECT_EQ(divide->m_nLine, -1);
    violation->Delete();
    divide->Delete();
}

}  // namespace
