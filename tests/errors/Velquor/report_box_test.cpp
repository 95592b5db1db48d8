/* The road of a fault end to end, through tools.dll as a host uses it: a
 * division by zero is caught as CException*, and ReportError shows the real
 * box, which this test answers. This file lies in a directory named
 * "Velquor", so the box shows its path from that word on, as the compiler
 * recorded it in the line tables of this plain -g build. */
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tools/runtime.h"
#include "support/box_answer.h"

namespace {

volatile int g_zero = 0;
/* Out of line and opaque to the optimiser, so that the faulting instruction
 * is there and has a line of its own. */
__attribute__((noipa)) int Divide(int a, int b) { return a / b; } const int kDivideLine = __LINE__;

const char kDivideText[] = "The thread tried to divide an integer value by an integer divisor of zero.\n";

class ReportBox : public ::testing::Test {
protected:
    static void SetUpTestSuite() { TkInitialize(); }
    static void TearDownTestSuite() { TkTerminate(); }

    static CException* DivideByZero()
    {
        try {
            Divide(1, g_zero);
        } catch (CException* e) {
            return e;
        }
        return nullptr;
    }

    static std::string Located()
    {
        return "Velquor/report_box_test.cpp(" + std::to_string(kDivideLine) + ")\n\n";
    }
};

TEST_F(ReportBox, AFaultShowsItsSourceLineTheHostsTextAndTheQuestion)
{
    CException* e = DivideByZero();
    ASSERT_NE(e, nullptr);
    {
        tktest::BoxAnswer yes(IDYES);
        EXPECT_EQ(e->ReportError("Dividing the samples", MB_YESNO), IDYES);
        ASSERT_TRUE(yes.Seen());
        EXPECT_EQ(yes.Text(), Located() + "\"Dividing the samples\"\n" + kDivideText + "\nContinue?\n");
    }
    /* Asked again, the exception finds its line again after the restart of
     * the symbol engine. */
    {
        tktest::BoxAnswer no(IDNO);
        EXPECT_EQ(e->ReportError("Dividing the samples", MB_YESNO), IDNO);
        ASSERT_TRUE(no.Seen());
        EXPECT_EQ(no.Text().substr(0, Located().size()), Located());
    }
    e->Delete();
}

TEST_F(ReportBox, AnIconMakesItNoPlainYesNoQuestion)
{
    CException* e = DivideByZero();
    ASSERT_NE(e, nullptr);
    tktest::BoxAnswer yes(IDYES);
    EXPECT_EQ(e->ReportError("Dividing the samples", MB_YESNO | MB_ICONSTOP), IDYES);
    ASSERT_TRUE(yes.Seen());
    EXPECT_EQ(yes.Text(), Located() + "\"Dividing the samples\"\n" + kDivideText);
    e->Delete();
}

TEST_F(ReportBox, WithoutLocationOrTextTheBoxShowsTheExceptionsText)
{
    CException* e = nullptr;
    try {
        ThrowException(static_cast<long>(0xC000008C));
    } catch (CException* caught) {
        e = caught;
    }
    ASSERT_NE(e, nullptr);
    tktest::BoxAnswer ok(IDOK);
    EXPECT_EQ(e->ReportError(MB_OK), IDOK);
    ASSERT_TRUE(ok.Seen());
    EXPECT_EQ(ok.Text(), "The thread tried to access an array element that is out of bounds.\n");
    e->Delete();
}

}  // namespace
