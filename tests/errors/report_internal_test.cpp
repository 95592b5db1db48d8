/* A fault's location as its text finds it, and the report box's text, over a
 * stand-in debug-help library and a stand-in message box. */
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "errors/box_text.h"
#include "errors/fault_location.h"
#include "sourceline/file_names.h"
#include "errors/report_box.h"

namespace {

/* The stand-in debug-help library. Its clean-up overwrites the file name it
 * handed out, as the end of a real engine start frees it. */
struct Engine {
    bool loadFails;
    DWORD lineError;   /* 0 with found false: not found, no error left */
    bool found;
    int calls, cleanups;
    char fileName[64];
} g;

const char kSource[] = "C:\\src\\Velquor\\cpu.cpp";

BOOL WINAPI Cleanup(HANDLE)
{
    ++g.cleanups;
    memset(g.fileName, '#', sizeof g.fileName - 1);
    return TRUE;
}
BOOL WINAPI Initialize(HANDLE, PCSTR, BOOL) { return TRUE; }
BOOL WINAPI GetLine(HANDLE, tk::dbghelp::SymbolAddress, PDWORD, tk::dbghelp::SymbolLine* line)
{
    SetLastError(g.lineError);
    if (!g.found)
        return FALSE;
    strcpy(g.fileName, kSource);
    line->FileName = g.fileName;
    line->LineNumber = 42;
    return TRUE;
}
HMODULE WINAPI Load(LPCSTR)
{
    ++g.calls;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return g.loadFails ? nullptr : reinterpret_cast<HMODULE>(0x50000000);
}
FARPROC WINAPI Entry(HMODULE, LPCSTR name)
{
    const std::string n = name;
    void* f = n == "SymCleanup" ? reinterpret_cast<void*>(Cleanup)
        : n == "SymInitialize" ? reinterpret_cast<void*>(Initialize)
        : n == tk::dbghelp::kGetLineEntryPoint ? reinterpret_cast<void*>(GetLine) : nullptr;
    return reinterpret_cast<FARPROC>(f);
}
BOOL WINAPI Free(HMODULE) { return TRUE; }
DWORD WINAPI ModulePath(HMODULE, LPSTR, DWORD) { return 0; }
UINT WINAPI ErrorMode(UINT) { return 0; }
HANDLE WINAPI FindFirst(LPCSTR, WIN32_FIND_DATAA*) { return INVALID_HANDLE_VALUE; }
BOOL WINAPI FindNext(HANDLE, WIN32_FIND_DATAA*) { return FALSE; }
BOOL WINAPI FindEnd(HANDLE) { return TRUE; }
HANDLE WINAPI Process() { return reinterpret_cast<HANDLE>(0x77); }

const tk::SymbolLookupPlatform kEngine = {
    Load, Entry, Free, ModulePath, ErrorMode, FindFirst, FindNext, FindEnd, Process, realloc, free,
};

bool g_allocationFails;
int g_releases;
void* Allocate(size_t bytes) { return g_allocationFails ? nullptr : malloc(bytes); }
void Release(void* block) { ++g_releases; free(block); }
const tk::FileNamesPlatform kNames = { Allocate, Release };

/* A fault record as the translator keeps it. */
struct Fault {
    EXCEPTION_RECORD record;
    EXCEPTION_POINTERS pointers;
    explicit Fault(DWORD code) : record(), pointers{ &record, nullptr }
    {
        record.ExceptionCode = code;
        /* In no module, so that only the stand-in answers for it. */
        record.ExceptionAddress = reinterpret_cast<void*>(0x1000);
    }
};

class Location : public ::testing::Test {
protected:
    tk::UsingPlatform<tk::SymbolLookupPlatform> useEngine_{ tk::SymbolLookupSeam(), kEngine };
    tk::UsingPlatform<tk::FileNamesPlatform> useNames_{ tk::FileNamesSeam(), kNames };

    void SetUp() override
    {
        g = Engine();
        g.found = true;
        g_allocationFails = false;
        g_releases = 0;
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
    EXPECT_STREQ(e.m_pszFile, kSource);
    EXPECT_EQ(e.m_nLine, 42);
    const char* first = e.m_pszFile;

    /* The next lookup ends the start that found the name, then finds
     * nothing without an error: the location stays, readable. */
    g.found = false;
    tk::LocateFault(e, lookup, names);
    EXPECT_EQ(g.cleanups, 1);
    EXPECT_EQ(e.m_pszFile, first);
    EXPECT_STREQ(e.m_pszFile, kSource);
    EXPECT_EQ(e.m_nLine, 42);

    /* Found again: the same lasting copy, no second one. */
    g.found = true;
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
    g.found = false;
    g.lineError = ERROR_INVALID_ADDRESS;
    e.Locate("thrower.cpp", 7);
    tk::LocateFault(e, lookup, names);
    EXPECT_EQ(e.m_pszFile, nullptr);
    EXPECT_EQ(e.m_nLine, -1);

    g.loadFails = true;
    tk::CSymbolLookup unavailable;
    e.Locate("thrower.cpp", 7);
    tk::LocateFault(e, unavailable, names);
    EXPECT_EQ(e.m_pszFile, nullptr);
    EXPECT_EQ(e.m_nLine, -1);

    g.loadFails = false;
    g.found = true;
    g_allocationFails = true;
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
    EXPECT_EQ(g.calls, 0) << "no faulting address, no restart";
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
    EXPECT_EQ(g_releases, 2);
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
