/* Bad input to every service of tools.dll, used as a host uses it: null and
 * over-long texts, buffers too small for anything, null arrays and values
 * out of range. Each gets its clear result; guard bytes around the output
 * buffers show that nothing was written outside them, and values written
 * before stay where they were. */
#include <gtest/gtest.h>

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "tools/component.h"
#include "tools/graph.h"
#include "tools/profile.h"
#include "tools/runtime.h"
#include "tools/util.h"
#include "support/box_answer.h"
#include "support/child_process.h"
#include "support/guarded_buffer.h"
#include "support/test_component.h"

namespace {

using tktest::GuardedBuffer;

using tktest::TempDirectory;

std::string Unique(const char* what)
{
    return std::string("tk_bad_") + what + "_" + std::to_string(GetCurrentProcessId());
}

/* ---- Text search and log ---- */

TEST(BadTextSearch, NullEmptyAndHugeTextsGiveThePrintablePosition)
{
    EXPECT_EQ(TkStrStr(nullptr, nullptr), nullptr);
    const char empty[] = "";
    EXPECT_EQ(TkStrStr(empty, ""), empty);
    EXPECT_EQ(TkStrStr(empty, nullptr), empty);

    std::string huge(100000, 'a');
    huge += "Velquor";
    EXPECT_EQ(TkStrStr(huge.c_str(), "VELQUOR"), huge.c_str() + 100000);
    std::string longer = huge + "!";
    EXPECT_EQ(TkStrStr(huge.c_str(), longer.c_str()), huge.c_str()) << "a key one byte longer than the text";
}

TEST(BadLog, TenThousandCharactersWriteTheFirst511AndSayTheTextDidNotFit)
{
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    const std::string dir = TempDirectory() + Unique("log");
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));

    const std::string a(5000, 'a'), b(5000, 'b');
    EXPECT_EQ(TkLog("%s%s", a.c_str(), b.c_str()), 0xFFFFFFFFu);
    const std::string format(10000, 'f');
    EXPECT_EQ(TkLog(format.c_str()), 0xFFFFFFFFu) << "a format of 10,000 characters without conversions";
    EXPECT_EQ(TkLog("%10000d", 7), 0xFFFFFFFFu);

    std::string bytes;
    if (FILE* f = fopen("vq_tools.log", "rb")) {
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
            bytes.append(chunk, n);
        fclose(f);
    }
    EXPECT_EQ(bytes, std::string(511, 'a') + std::string(511, 'f') + std::string(511, ' '))
        << "each text cut to 511 characters, nothing read past them";

    SetCurrentDirectoryA(previous);
    DeleteFileA((dir + "\\vq_tools.log").c_str());
    RemoveDirectoryA(dir.c_str());
}

/* ---- Exception texts and the report box ---- */

/* One exception of each kind of text: the system's, the table's, the
 * unknown-code line, an access violation thrown by code, and one made from
 * a fault record, which fills the address into a format. */
struct Kinds {
    EXCEPTION_RECORD record = {};
    CONTEXT context = {};
    EXCEPTION_POINTERS pointers = { &record, &context };
    CException system{ static_cast<long>(E_OUTOFMEMORY) };
    CException table{ static_cast<long>(EXCEPTION_ARRAY_BOUNDS_EXCEEDED) };
    CException unknown{ static_cast<long>(0x20000001) };
    CException thrownViolation{ static_cast<long>(EXCEPTION_ACCESS_VIOLATION) };
    CRunTimeException faultViolation{ Violation() };

    EXCEPTION_POINTERS* Violation()
    {
        record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
        record.NumberParameters = 2;
        record.ExceptionInformation[0] = 1;
        record.ExceptionInformation[1] = 0x1234ABCD;
        return &pointers;
    }
    std::vector<CException*> All() { return { &system, &table, &unknown, &thrownViolation, &faultViolation }; }
};

TEST(BadErrorMessage, EveryKindOfTextStaysWithinEveryBufferSize)
{
    Kinds kinds;
    const unsigned long sizes[] = { 0, 1, 31, 111 };
    for (CException* e : kinds.All()) {
        char whole[256];
        const int full = e->GetErrorMessage(whole, sizeof whole);
        ASSERT_GT(full, 0) << std::hex << e->m_hr;
        for (unsigned long size : sizes) {
            GuardedBuffer buffer(size);
            const int n = e->GetErrorMessage(buffer.Data(), size);
            EXPECT_TRUE(buffer.Intact()) << std::hex << e->m_hr << std::dec << " size " << size;
            if (size == 0) {
                EXPECT_EQ(n, 0);
                EXPECT_TRUE(buffer.Untouched()) << std::hex << e->m_hr;
                continue;
            }
            ASSERT_GE(n, 0);
            ASSERT_LT(static_cast<unsigned long>(n), size) << std::hex << e->m_hr << std::dec << " size " << size;
            EXPECT_EQ(buffer.Data()[n], '\0');
            EXPECT_EQ(std::string(buffer.Data(), n), std::string(whole, n)) << "the start of the whole text";
        }
        EXPECT_EQ(e->GetErrorMessage(nullptr, 256), 0) << std::hex << e->m_hr;
    }
}

/* Both long texts in one box: each box takes about two seconds to close. */
TEST(BadReportBox, ALongPathAndTextAreCutToTheBoxAndKeepTheQuestion)
{
    CException e(static_cast<long>(EXCEPTION_ARRAY_BOUNDS_EXCEEDED));
    const std::string path = "C:\\" + std::string(1784, 'p') + "\\VELQUOR\\" + std::string(200, 'f') + ".cpp";
    ASSERT_EQ(path.size(), 2000u);
    e.Locate(path.c_str(), 7);
    const std::string text(2000, 't');
    tktest::BoxAnswer yes(IDYES);
    EXPECT_EQ(e.ReportError(text.c_str(), MB_YESNO), IDYES);
    ASSERT_TRUE(yes.Seen());
    const std::string shown = path.substr(path.find("VELQUOR")) + "(7)\n\n\"";
    EXPECT_EQ(yes.Text(), shown + std::string(511 - shown.size() - 11, 't') + "\nContinue?\n");
    EXPECT_EQ(e.m_pszFile, path.c_str()) << "the host's location stays its own";
}

/* ---- Settings profile ---- */

class BadProfile : public ::testing::Test {
protected:
    void SetUp() override
    {
        name_ = Unique("profile") + ".ini";
        path_ = tktest::ProgramDirectory() + name_;
        DeleteFileA(path_.c_str());
    }
    void TearDown() override { DeleteFileA(path_.c_str()); }

    std::string name_, path_;
};

TEST_F(BadProfile, NullAndOverLongNamesGiveClearResults)
{
    CProfile unnamed(nullptr);
    EXPECT_EQ(std::string(unnamed.Path()), tktest::ProgramDirectory()) << "a null name counts as empty";
    unnamed.Open("Run");
    EXPECT_EQ(unnamed.SetValue(1, "k"), E_FAIL) << "the directory is no file";

    const std::string longName(2000, 'n');
    CProfile overLong(longName.c_str());
    EXPECT_EQ(std::string(overLong.Path()), (tktest::ProgramDirectory() + longName).substr(0, 259));

    CProfile profile(name_.c_str());
    profile.Open(std::string(2000, 's').c_str());
    EXPECT_EQ(std::string(profile.Section()), std::string(259, 's'));
    EXPECT_EQ(profile.Open(nullptr), S_OK);
    EXPECT_STREQ(profile.Section(), "");

    /* A null key would remove the section on the platform: nothing is
     * written, and what the section held stays. */
    profile.Open("Run");
    ASSERT_EQ(profile.SetValue(5, "kept"), S_OK);
    EXPECT_EQ(profile.SetValue("v", nullptr), E_INVALIDARG);
    EXPECT_EQ(profile.SetValue(static_cast<const char*>(nullptr), nullptr), E_INVALIDARG);
    EXPECT_EQ(profile.SetValue(1, nullptr), E_INVALIDARG);
    EXPECT_EQ(profile.SetValue(1.0f, nullptr), E_INVALIDARG);
    int i = 9;
    float f = 9;
    EXPECT_EQ(profile.QueryValue(i, nullptr), E_INVALIDARG);
    EXPECT_EQ(profile.QueryValue(f, nullptr), E_INVALIDARG);
    EXPECT_EQ(i, 0);
    EXPECT_EQ(f, 0.0f);
    GuardedBuffer text(8);
    unsigned long size = 8;
    EXPECT_EQ(profile.QueryValue(text.Data(), nullptr, &size), E_INVALIDARG);
    EXPECT_STREQ(text.Data(), "");
    EXPECT_EQ(size, 0u);
    EXPECT_TRUE(text.Intact());
    EXPECT_EQ(profile.QueryValue(i, "kept"), S_OK);
    EXPECT_EQ(i, 5);

    /* A key and a value of 2,000 characters are stored whole. */
    const std::string longKey(2000, 'k'), longValue(2000, 'v');
    ASSERT_EQ(profile.SetValue(longValue.c_str(), longKey.c_str()), S_OK);
    GuardedBuffer whole(2001);
    size = 2001;
    EXPECT_EQ(profile.QueryValue(whole.Data(), longKey.c_str(), &size), S_OK);
    EXPECT_EQ(size, 2000u);
    EXPECT_EQ(std::string(whole.Data()), longValue);
    EXPECT_TRUE(whole.Intact());
    /* A number read takes its first 15 characters. */
    ASSERT_EQ(profile.SetValue(std::string(2000, '7').c_str(), "number"), S_OK);
    EXPECT_EQ(profile.QueryValue(i, "number"), S_OK);
    EXPECT_EQ(i, INT_MAX);
    EXPECT_EQ(profile.QueryValue(f, "number"), S_OK);
    EXPECT_EQ(f, 777777777777777.0f);
}

TEST_F(BadProfile, EmptyNamesReadTheDefaultsAndWriteNothing)
{
    /* Entries that an empty key or section would address, were the
     * platform asked. */
    const std::string content = "[]\r\nk=4\r\n[Run]\r\n=5\r\nk=6\r\n";
    FILE* file = fopen(path_.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    fputs(content.c_str(), file);
    fclose(file);

    CProfile profile(name_.c_str());
    const struct {
        const char* section;
        const char* key;
    } cases[] = { { "Run", "" }, { "", "k" }, { "", "" } };
    for (const auto& c : cases) {
        profile.Open(c.section);
        const std::string name = std::string("[") + c.section + "] '" + c.key + "'";
        int i = 9;
        float f = 9;
        EXPECT_EQ(profile.QueryValue(i, c.key), S_OK) << name;
        EXPECT_EQ(profile.QueryValue(f, c.key), S_OK) << name;
        EXPECT_EQ(i, 0) << name;
        EXPECT_EQ(f, 0.0f) << name;
        GuardedBuffer text(8);
        unsigned long size = 8;
        EXPECT_EQ(profile.QueryValue(text.Data(), c.key, &size), S_OK) << name;
        EXPECT_STREQ(text.Data(), "") << name;
        EXPECT_EQ(size, 0u) << name;
        EXPECT_TRUE(text.Intact()) << name;
        EXPECT_EQ(profile.SetValue(1, c.key), E_INVALIDARG) << name;
        EXPECT_EQ(profile.SetValue(1.0f, c.key), E_INVALIDARG) << name;
        EXPECT_EQ(profile.SetValue("v", c.key), E_INVALIDARG) << name;
        EXPECT_EQ(profile.SetValue(static_cast<const char*>(nullptr), c.key), E_INVALIDARG) << name;
    }
    profile.Close();
    EXPECT_EQ(profile.SetValue(1, "k"), E_INVALIDARG) << "no section open";

    char back[64] = {};
    file = fopen(path_.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    size_t length = fread(back, 1, sizeof back - 1, file);
    fclose(file);
    EXPECT_EQ(std::string(back, length), content) << "the file was changed";
}

TEST_F(BadProfile, TextReadsStayWithinBuffersOfEverySize)
{
    CProfile profile(name_.c_str());
    profile.Open("Run");
    ASSERT_EQ(profile.SetValue("abcdef", "k"), S_OK);
    const struct {
        unsigned long size;
        const char* text;
    } cases[] = { { 1, "" }, { 2, "a" }, { 6, "abcde" }, { 7, "abcdef" } };
    for (const auto& c : cases) {
        GuardedBuffer buffer(c.size);
        unsigned long size = c.size;
        EXPECT_EQ(profile.QueryValue(buffer.Data(), "k", &size), S_OK);
        EXPECT_STREQ(buffer.Data(), c.text) << "size " << c.size;
        EXPECT_EQ(size, strlen(c.text));
        EXPECT_TRUE(buffer.Intact()) << "size " << c.size;
    }
    GuardedBuffer none(0);
    unsigned long size = 0;
    EXPECT_EQ(profile.QueryValue(none.Data(), "k", &size), S_OK);
    EXPECT_EQ(size, 0u);
    EXPECT_TRUE(none.Untouched()) << "no room, not even for a terminator";

    GuardedBuffer buffer(8);
    EXPECT_EQ(profile.QueryValue(buffer.Data(), "k", nullptr), E_POINTER);
    EXPECT_TRUE(buffer.Untouched());
    size = 8;
    EXPECT_EQ(profile.QueryValue(nullptr, "k", &size), E_POINTER);
    EXPECT_EQ(size, 8u);
}

/* ---- Graph ---- */

class ProbedGraph : public CGraph {
public:
    ProbedGraph(int lines) : CGraph(lines, nullptr) {}
    int Lines() const { return m_nLines; }
    int Unit() const { return m_nUnit; }
    unsigned Bound() const { return m_nMaxSamples; }
    int Newest(int line) const { return m_History[line].At(0); }
};

TEST(BadGraph, LineCountsOutOfRangeTakeAndWriteBackOnlyTheirSamples)
{
    const struct {
        int asked, lines;
    } cases[] = { { -1, 0 }, { INT_MIN, 0 }, { 100, 4 }, { INT_MAX, 4 } };
    for (const auto& c : cases) {
        ProbedGraph graph(c.asked);
        EXPECT_EQ(graph.Lines(), c.lines) << c.asked;
        GuardedBuffer buffer(c.lines * sizeof(int));
        int* samples = reinterpret_cast<int*>(buffer.Data());
        for (int i = 0; i < c.lines; ++i)
            samples[i] = i % 2 ? -50 : 150;
        EXPECT_EQ(graph.Add(samples), S_OK) << c.asked;
        EXPECT_TRUE(buffer.Intact()) << c.asked << ": nothing beyond the graph's lines";
        for (int i = 0; i < c.lines; ++i) {
            EXPECT_EQ(samples[i], i % 2 ? 0 : 100) << "clamped and written back";
            EXPECT_EQ(graph.Newest(i), samples[i]);
        }
        EXPECT_EQ(graph.Add(nullptr), E_POINTER);
    }
}

TEST(BadGraph, NullArraysAndBadStepsChangeNothing)
{
    ProbedGraph graph(2);
    /* Arrays of the graph's two entries before an inaccessible page: a read
     * of a third faults. */
    tktest::FencedBuffer colorRoom(2 * sizeof(unsigned long)), widthRoom(2 * sizeof(int));
    ASSERT_NE(colorRoom.Data(), nullptr);
    ASSERT_NE(widthRoom.Data(), nullptr);
    unsigned long* colors = reinterpret_cast<unsigned long*>(colorRoom.Data());
    int* widths = reinterpret_cast<int*>(widthRoom.Data());
    colors[0] = colors[1] = 0x0000FF;
    widths[0] = widths[1] = 2;
    EXPECT_EQ(graph.SetLineColor(colors, widths), S_OK);
    EXPECT_EQ(graph.SetLineColor(nullptr, widths), E_POINTER);
    EXPECT_EQ(graph.SetLineColor(colors, nullptr), E_POINTER);
    EXPECT_EQ(graph.SetLineColor(nullptr, nullptr), E_POINTER);

    ASSERT_EQ(graph.Resize(SIZE_RESTORED, 300, 100), S_OK);
    ASSERT_EQ(graph.SetUnit(2), S_OK);
    ASSERT_EQ(graph.Bound(), 150u);
    for (int unit : { -3, 0, INT_MIN, 11184811, INT_MAX }) {
        EXPECT_EQ(graph.SetUnit(unit), E_INVALIDARG) << unit;
        EXPECT_EQ(graph.Unit(), 2);
        EXPECT_EQ(graph.Bound(), 150u);
    }
    EXPECT_EQ(graph.SetRange(5, 5), E_INVALIDARG);
    EXPECT_EQ(graph.SetRange(INT_MAX, INT_MIN), E_INVALIDARG);
    EXPECT_EQ(graph.Resize(SIZE_RESTORED, INT_MIN, 100), E_INVALIDARG);
    EXPECT_EQ(graph.Attach(nullptr), E_INVALIDARG);
    EXPECT_EQ(graph.Draw(), E_FAIL) << "not attached";
}

/* Grid spacings of no pixel, or below it, draw no grid at all and never
 * loop; the lines are drawn all the same. */
TEST(BadGraph, AGridPercentOfZeroOrLessDrawsNoGrid)
{
    const int grids[][2] = { { 5, 0 }, { -1, -1 }, { INT_MIN, INT_MIN } };
    const int count = sizeof grids / sizeof grids[0];
    HWND parent =
        CreateWindowA("STATIC", "", WS_POPUP | WS_VISIBLE, 0, 0, 200 * count, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    /* One chart each, side by side, so that one wait serves all. */
    HWND charts[count];
    std::vector<std::unique_ptr<CGraph>> graphs;
    for (int i = 0; i < count; ++i) {
        charts[i] = CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE | SS_BITMAP, 200 * i, 0, 200, 100, parent, nullptr,
                                  nullptr, nullptr);
        ASSERT_NE(charts[i], nullptr);
        graphs.emplace_back(new CGraph(1, nullptr));
        CGraph& graph = *graphs.back();
        ASSERT_EQ(graph.Attach(charts[i]), S_OK);
        ASSERT_EQ(graph.SetUnit(1), S_OK);
        ASSERT_EQ(graph.SetGridUnit(grids[i][0], grids[i][1]), S_OK);
        for (int n = 0; n < 200; ++n) {
            int sample = 50;
            ASSERT_EQ(graph.Add(&sample), S_OK);
        }
    }
    Sleep(520);
    for (int i = 0; i < count; ++i) {
        const int* grid = grids[i];
        ASSERT_EQ(graphs[i]->Draw(), S_OK) << grid[0] << ", " << grid[1];
        /* A horizontal line crosses two neighbouring columns, which no two
         * vertical lines do; the vertical lines cross a row away from the
         * samples, and the samples' line a column. */
        HDC dc = GetDC(charts[i]);
        int gridRows = 0, gridColumns = 0, linePixels = 0;
        for (int y = 0; y < 100; ++y) {
            gridRows += GetPixel(dc, 7, y) == 0x408000 && GetPixel(dc, 8, y) == 0x408000;
            linePixels += GetPixel(dc, 100, y) == 0x00FF00;
        }
        for (int x = 0; x < 200; ++x)
            gridColumns += GetPixel(dc, x, 10) == 0x408000;
        ReleaseDC(charts[i], dc);
        EXPECT_EQ(gridRows, 0) << grid[0] << ", " << grid[1] << ": no horizontal grid line";
        EXPECT_EQ(gridColumns > 0, grid[0] > 0) << grid[0] << ", " << grid[1] << ": vertical lines only for a unit";
        EXPECT_GT(linePixels, 0);
    }
    graphs.clear();
    DestroyWindow(parent);
}

/* ---- Component creation ---- */

TEST(BadComponent, LibrariesThatCannotServeGiveTheirErrorAndLeaveOutAlone)
{
    using namespace testcomponent;
    const std::string notLibrary = TempDirectory() + Unique("text") + ".dll";
    FILE* f = fopen(notLibrary.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("This is a text, not a library.\r\n", f);
    fclose(f);
    const std::string missing = TempDirectory() + Unique("missing") + ".dll";
    const std::string overLong = TempDirectory() + std::string(2000, 'l') + ".dll";

    const struct {
        const char* path;
        HRESULT expected;
    } cases[] = {
        { missing.c_str(), static_cast<HRESULT>(0x8007007E) },
        { "tk_test_no_factory.dll", static_cast<HRESULT>(0x8007007F) },
        { notLibrary.c_str(), static_cast<HRESULT>(0x800700C1) },
        { nullptr, E_INVALIDARG },
    };
    void* const untouched = reinterpret_cast<void*>(0x5A5A);
    for (const auto& c : cases) {
        void* out = untouched;
        EXPECT_EQ(NoRegCoCreate(c.path, kCounterClass, kCounterId, &out), c.expected) << (c.path ? c.path : "null");
        EXPECT_EQ(out, untouched);
    }
    EXPECT_EQ(GetModuleHandleA("tk_test_no_factory.dll"), nullptr) << "unloaded again";

    void* out = untouched;
    HRESULT hr = NoRegCoCreate(overLong.c_str(), kCounterClass, kCounterId, &out);
    EXPECT_TRUE(FAILED(hr) && HRESULT_FACILITY(hr) == FACILITY_WIN32) << std::hex << hr;
    EXPECT_EQ(out, untouched);
    for (const std::string& path : { std::string(), TempDirectory() }) {
        hr = NoRegCoCreate(path.c_str(), kCounterClass, kCounterId, &out);
        EXPECT_TRUE(FAILED(hr)) << "\"" << path << "\": " << std::hex << hr;
        EXPECT_EQ(out, untouched);
    }

    EXPECT_EQ(NoRegCoCreate(kFileName, kCounterClass, kCounterId, nullptr), E_POINTER);
    EXPECT_EQ(GetModuleHandleA(kFileName), nullptr) << "nothing loaded for a null out";
    DeleteFileA(notLibrary.c_str());
}

}  // namespace
