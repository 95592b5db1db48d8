/* A fault's location as its text finds it, and the report box's text, over a
 * stand-in debug-help library and a stand-in message box. */
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "errors/box_text.h"
#include "errors/fault_location.h"
#include "sourceline/file_names.h"
#include "errors/report_box.h"
#include "support/scripted_heap.h"
#include "support/stand_in_dbghelp.h"

namespace {

using tktest::DebugHelp;
using tktest::Heap;
using tktest::kStandInSource;

const tk::FileNamesPlatform kNames = { tktest::ScriptedAllocate, tktest::ScriptedRelease };

/* A fault record as the translator keeps it. */
struct Fault {
    EXCEPTION_RECORD record;
    EXCEPTION_POINTERS pointers;
    explicit Fault(DWORD code) : record(), pointers{ &record, nullptr }
    {
        record.ExceptionCode = code;
        /* In no module, so that only the stand-in answers for it. */
        record.ExceptionAddress = reinterpret_cast<void*>(tktest::kStandInCode);
    }
};

class Location : public ::testing::Test {
protected:
    tk::UsingPlatform<tk::SymbolLookupPlatform> useEngine_{ tk::SymbolLookupSeam(), tktest::kStandInDebugHelp };
    tk::UsingPlatform<tk::FileNamesPlatform> useNames_{ tk::FileNamesSeam(), kNames };

    void SetUp() override
    {
        DebugHelp() = tktest::NewDebugHelpScript();
        Heap() = tktest::HeapScript();
    }
};

TEST_F(Location, TheFileNameOutlivesTheEngineStartThatFoundIt)
{
    tk::CSymbolLookup lookup;
    tk::FileNames names;
    Fault fault(EXCEPTION_INT_DIVIDE_BY_ZERO);
    CException e(&fault.pointers);

    tk::LocateFault(e, lookup, names);
    ASSERT_NE(e.m_pszFile, nullptr);
    EXPECT_STREQ(e.m_pszFile, kStandInSource);
    EXPECT_EQ(e.m_nLine, 42);
    const char* first = e.m_pszFile;

    /* The next lookup ends the start that found the name, then finds
     * nothing without an error: the location stays, readable. */
    DebugHelp().lineAddress = 0;
    tk::LocateFault(e, lookup, names);
    EXPECT_EQ(DebugHelp().cleanups, 1);
    EXPECT_EQ(e.m_pszFile, first);
    EXPECT_STREQ(e.m_pszFile, kStandInSource);
    EXPECT_EQ(e.m_nLine, 42);

    /* Found again: the same lasting copy, no second one. */
    DebugHelp().lineAddress = tktest::kStandInCode;
    tk::LocateFault(e, lookup, names);
    EXPECT_EQ(e.m_pszFile, first);
    EXPECT_EQ(names.Count(), 1);
}

TEST_F(Location, NoLineOrNoLookupMeansNoLocation)
{
    tk::FileNames names;
    Fault fault(EXCEPTION_ACCESS_VIOLATION);
    CException e(&fault.pointers);

    tk::CSymbolLookup lookup;
    DebugHelp().lineError = ERROR_INVALID_ADDRESS;
    e.Locate("thrower.cpp", 7);
    tk::LocateFault(e, lookup, names);
    EXPECT_EQ(e.m_pszFile, nullptr);
    EXPECT_EQ(e.m_nLine, -1);

    DebugHelp().loadError = ERROR_MOD_NOT_FOUND;
    tk::CSymbolLookup unavailable;
    e.Locate("thrower.cpp", 7);
    tk::LocateFault(e, unavailable, names);
    EXPECT_EQ(e.m_pszFile, nullptr);
    EXPECT_EQ(e.m_nLine, -1);

    DebugHelp() = tktest::NewDebugHelpScript();
    Heap().failAll = true;
    tk::CSymbolLookup found;
    tk::LocateFault(e, found, names);
    EXPECT_EQ(e.m_pszFile, nullptr) << "without a lasting copy the name is dropped";
    EXPECT_EQ(e.m_nLine, -1);
}

TEST_F(Location, AnExceptionThrownByCodeKeepsItsThrowersLocation)
{
    tk::CSymbolLookup lookup;
    tk::FileNames names;
    CException e(static_cast<long>(EXCEPTION_ACCESS_VIOLATION), "thrower.cpp", 7);
    tk::LocateFault(e, lookup, names);
    EXPECT_STREQ(e.m_pszFile, "thrower.cpp");
    EXPECT_EQ(e.m_nLine, 7);
    EXPECT_EQ(DebugHelp().calls, 0) << "no faulting address, no restart";
}

TEST_F(Location, EachNameIsCopiedOnceAndFreedWithTheTable)
{
    char name[] = "C:\\src\\a.cpp";
    {
        tk::FileNames names;
        EXPECT_EQ(names.LastingCopy(nullptr), nullptr);
        const char* a = names.LastingCopy(name);
        ASSERT_NE(a, nullptr);
        EXPECT_NE(a, name);
        name[7] = 'b';
        EXPECT_STREQ(a, "C:\\src\\a.cpp") << "a copy, not the caller's text";
        EXPECT_NE(names.LastingCopy(name), a);
        EXPECT_EQ(names.LastingCopy("C:\\src\\a.cpp"), a);
        EXPECT_EQ(names.Count(), 2);
    }
    EXPECT_EQ(Heap().releases, 2);
}

/* The stand-in message box. */
struct Box {
    std::string text, caption;
    HWND owner;
    UINT type;
    int answer;
} g_box;

int WINAPI ShowBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    g_box.owner = owner;
    g_box.text = text;
    g_box.caption = caption;
    g_box.type = type;
    return g_box.answer;
}
const tk::ReportPlatform kBox = { ShowBox };

/* A table code without a record: a fixed text and no lookup. */
const long kBounds = static_cast<long>(0xC000008C);
const char kBoundsText[] = "The thread tried to access an array element that is out of bounds.\n";

class Report : public ::testing::Test {
protected:
    tk::UsingPlatform<tk::ReportPlatform> use_{ tk::ReportSeam(), kBox };

    void SetUp() override { g_box = Box(); g_box.answer = IDOK; }
};

TEST_F(Report, ComposesTheFourFormsWithTheShortenedPath)
{
    CException e(kBounds, "D:\\work\\VELQUOR\\net\\send.cpp", 42);
    EXPECT_EQ(tk::Report(e, "Sending", MB_OK), IDOK);
    EXPECT_EQ(g_box.text, std::string("VELQUOR\\net\\send.cpp(42)\n\n\"Sending\"\n") + kBoundsText);
    EXPECT_EQ(g_box.caption, "Exception Error");
    EXPECT_EQ(g_box.owner, nullptr);

    tk::Report(e, nullptr, MB_OK);
    EXPECT_EQ(g_box.text, std::string("VELQUOR\\net\\send.cpp (42)\n\n") + kBoundsText);

    e.Locate("D:\\work\\net\\send.cpp", -1);
    tk::Report(e, "Sending", MB_OK);
    EXPECT_EQ(g_box.text, std::string("D:\\work\\net\\send.cpp(-1)\n\n\"Sending\"\n") + kBoundsText);

    e.Locate(nullptr, -1);
    tk::Report(e, "Sending", MB_OK);
    EXPECT_EQ(g_box.text, std::string("\"Sending\"\n") + kBoundsText);
    tk::Report(e, nullptr, MB_OK);
    EXPECT_EQ(g_box.text, kBoundsText);
}

TEST_F(Report, AsksToContinueOnlyInAPlainYesNoBox)
{
    CException e(kBounds);
    g_box.answer = IDNO;
    EXPECT_EQ(tk::Report(e, "Sending", MB_YESNO), IDNO);
    EXPECT_EQ(g_box.text, std::string("\"Sending\"\n") + kBoundsText + "\nContinue?\n");
    EXPECT_EQ(g_box.type, static_cast<UINT>(MB_YESNO));
    for (UINT type : std::initializer_list<UINT>{ MB_YESNO | MB_ICONSTOP, MB_YESNO | MB_DEFBUTTON2, MB_OK }) {
        tk::Report(e, nullptr, type);
        EXPECT_EQ(g_box.text, kBoundsText) << "type " << type;
        EXPECT_EQ(g_box.type, type) << "passed to the box unchanged";
    }
    g_box.answer = 0;
    EXPECT_EQ(tk::Report(e, nullptr, MB_YESNO), 0) << "a box that could not be shown";
}

TEST_F(Report, ALongReportIsCutInsideTheBoxAndKeepsItsQuestion)
{
    const std::string path = "C:\\" + std::string(300, 'p') + "\\Velquor\\" + std::string(250, 'q') + ".cpp";
    const std::string text(400, 't');
    CException e(kBounds, path.c_str(), 7);
    tk::Report(e, text.c_str(), MB_OK);
    EXPECT_EQ(g_box.text.size(), 511u);
    EXPECT_EQ(g_box.text.substr(0, 12), "Velquor\\qqqq");
    tk::Report(e, text.c_str(), MB_YESNO);
    EXPECT_EQ(g_box.text.size(), 511u);
    EXPECT_EQ(g_box.text.substr(500), "\nContinue?\n");
}

/* A host's own text reaches the box through the virtual call. */
class HostException : public CException {
public:
    HostException() : CException(kBounds) {}
    int GetErrorMessage(char* buffer, unsigned long size) override
    {
        return snprintf(buffer, size, "host text\n");
    }
};

TEST_F(Report, UsesTheTextOfAHostsOwnException)
{
    HostException e;
    tk::Report(e, "Sending", MB_OK);
    EXPECT_EQ(g_box.text, "\"Sending\"\nhost text\n");
}

}  // namespace
