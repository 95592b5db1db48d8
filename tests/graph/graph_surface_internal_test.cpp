/* Binding a graph to its window: measuring, the drawing objects and their
 * release, size changes and destruction, as the recording surface sees the
 * calls. */
#include <gtest/gtest.h>

#include "support/recording_surface.h"

using tktest::Call;
using tktest::DrawLater;
using tktest::Kind;
using tktest::Num;
using tktest::RecordedGraph;
using tktest::Recording;
using tktest::kBelowWindow;
using tktest::kGraphWindow;
using tktest::kOtherWindow;

namespace {

class GraphSurface : public ::testing::Test {
protected:
    void SetUp() override
    {
        tktest::WithStatusBar(5000);
        Recording().windows[kOtherWindow] = RECT{ 0, 0, 200, 100 };
    }

    tktest::RecordingScope recording_;

    /* Every context given back, and nothing of ours left in one or shown
     * from one. */
    void ExpectContextsClean()
    {
        for (auto& entry : Recording().live)
            EXPECT_TRUE(entry.second != Kind::WindowDC && entry.second != Kind::MemoryDC)
                << "a drawing context is still held";
        EXPECT_EQ(Recording().releasedWhileSelected, 0);
        EXPECT_EQ(Recording().shownWhileSelected, 0);
        EXPECT_EQ(Recording().badReleases, 0);
    }

    static int NthIndex(const std::string& op, int nth)
    {
        auto& calls = Recording().calls;
        for (size_t i = 0; i < calls.size(); ++i)
            if (calls[i].op == op && nth-- == 0)
                return static_cast<int>(i);
        return -1;
    }

    /* The last picture made: its handle, and its width and height. */
    static long Picture() { return Num(Recording().Made("CreateCompatibleBitmap").back()); }
    static std::vector<long> PictureSize()
    {
        std::vector<long> args = Recording().Of("CreateCompatibleBitmap").back().args;
        return { args[1], args[2] };
    }
};

TEST_F(GraphSurface, AttachWithoutAWindowChangesNothing)
{
    RecordedGraph g(2);
    HWND gone = reinterpret_cast<HWND>(0x4444);
    EXPECT_EQ(g.Attach(nullptr), E_INVALIDARG);
    EXPECT_TRUE(Recording().calls.empty());
    EXPECT_EQ(g.Attach(gone), E_INVALIDARG);
    EXPECT_EQ(Recording().made, 0);
    EXPECT_EQ(g.Draw(), E_FAIL) << "still not attached";

    /* An attached graph keeps its window and its objects. */
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    const int made = Recording().made, released = Recording().released;
    EXPECT_EQ(g.Attach(nullptr), E_INVALIDARG);
    EXPECT_EQ(g.Attach(gone), E_INVALIDARG);
    EXPECT_EQ(Recording().made, made);
    EXPECT_EQ(Recording().released, released);
    ASSERT_EQ(DrawLater(g), S_OK);
    EXPECT_EQ(Recording().Of("GetDC")[0].args[0], Num(kGraphWindow));
    EXPECT_EQ(Recording().Of("PatBlt")[0].args[3], 400);
}

TEST_F(GraphSurface, AttachMeasuresTheWindowAndReplacesEachObjectAfterReleasingIt)
{
    RecordedGraph g(2, kBelowWindow);
    const char* makers[] = { "CreatePen", "CreateSolidBrush", "CreateCompatibleBitmap", "CreateFontA" };
    std::vector<std::vector<HGDIOBJ>> first;
    for (int attach = 0; attach < 2; ++attach) {
        Recording().calls.clear();
        ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
        ASSERT_EQ(Recording().Of("CreateCompatibleBitmap").size(), 1u);
        EXPECT_EQ(PictureSize(), (std::vector<long>{ 400, 280 }));
        /* Filled with the background in a memory context, then shown. */
        auto fills = Recording().Of("PatBlt");
        ASSERT_EQ(fills.size(), 1u);
        EXPECT_EQ(fills[0].args, (std::vector<long>{ fills[0].args[0], 0, 0, 400, 280, PATCOPY,
                                                     Num(Recording().Made("CreateSolidBrush").back()), Picture() }));
        EXPECT_EQ(Recording().live.count(reinterpret_cast<HANDLE>(fills[0].args[0])), 0u)
            << "the memory context is deleted";
        EXPECT_EQ(Recording().pictures[kGraphWindow], Picture());
        Call font = Recording().Of("CreateFontA")[0];
        EXPECT_EQ(font.args, (std::vector<long>{ 14, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, OUT_TT_PRECIS,
                                                 CLIP_DEFAULT_PRECIS, PROOF_QUALITY, 0 }));
        EXPECT_EQ(font.text, "Arial");
        EXPECT_EQ(Recording().Of("CreatePen").size(), 3u) << "grid pen and one pen per line";
        EXPECT_EQ(Recording().live.size(), 6u);
        ExpectContextsClean();

        /* Each object of the first set goes before the call that makes its
         * successor: pens are made grid pen first, then line by line. */
        for (size_t m = 0; m < first.size(); ++m)
            for (size_t n = 0; n < first[m].size(); ++n) {
                int released = Recording().IndexOf("DeleteObject", Num(first[m][n]));
                ASSERT_GE(released, 0) << makers[m] << " " << n << " released";
                EXPECT_LT(released, NthIndex(makers[m], static_cast<int>(n))) << makers[m] << " " << n;
            }
        for (const char* maker : makers)
            first.push_back(Recording().Made(maker));
    }
}

TEST_F(GraphSurface, TheSecondWindowsHeightIsTakenOffOnceWhereverItLies)
{
    /* The graph learns nothing of where the second window lies: beside,
     * below or over the graph window, its client height comes off. */
    RecordedGraph g(1, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    EXPECT_EQ(PictureSize(), (std::vector<long>{ 400, 280 }));
    EXPECT_EQ(g.Resize(SIZE_RESTORED, 400, 300), S_FALSE) << "the rectangle the graph already has";

    /* A control that keeps its size is measured the same each time; a
     * static control that took the size of this graph's picture is not cut
     * again by this graph, however often it attaches. */
    for (LONG height : { 300, 280 })
        for (int n = 0; n < 3; ++n) {
            Recording().windows[kGraphWindow] = RECT{ 0, 0, 400, height };
            ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
            EXPECT_EQ(PictureSize(), (std::vector<long>{ 400, 280 })) << height << ", attach " << n;
        }
    /* Another graph, another window or another size is measured by the
     * rule. */
    RecordedGraph fresh(1, kBelowWindow);
    ASSERT_EQ(fresh.Attach(kGraphWindow), S_OK);
    EXPECT_EQ(PictureSize()[1], 260);
    Recording().windows[kOtherWindow] = RECT{ 0, 0, 400, 280 };
    ASSERT_EQ(g.Attach(kOtherWindow), S_OK);
    EXPECT_EQ(PictureSize()[1], 260);
    Recording().windows[kOtherWindow] = RECT{ 0, 0, 400, 250 };
    ASSERT_EQ(g.Attach(kOtherWindow), S_OK);
    EXPECT_EQ(PictureSize()[1], 230);

    /* A second window taller than the graph window leaves no height, and
     * no grid rows to draw. */
    Recording().windows[kBelowWindow] = RECT{ 0, 0, 400, 350 };
    RecordedGraph flat(1, kBelowWindow);
    ASSERT_EQ(flat.Attach(kGraphWindow), S_OK);
    EXPECT_EQ(PictureSize(), (std::vector<long>{ 400, 0 }));
    int v = 50;
    flat.Add(&v);
    EXPECT_EQ(DrawLater(flat), S_OK);
    EXPECT_TRUE(Recording().Of("TextOutA").empty());
    EXPECT_EQ(flat.Resize(SIZE_RESTORED, 400, 300), S_FALSE) << "the parent's height less the second window's";
}

TEST_F(GraphSurface, AThousandAttachesAndGraphsHoldOneSetOfObjects)
{
    {
        RecordedGraph never(4, kBelowWindow);
        int samples[4] = { 1, 2, 3, 4 };
        never.Add(samples);
    }
    EXPECT_TRUE(Recording().calls.empty()) << "a graph never attached releases nothing";
    EXPECT_EQ(Recording().allocations, Recording().frees) << "but its histories";
    {
        RecordedGraph g(4, kBelowWindow);
        for (int n = 0; n < 1000; ++n)
            ASSERT_EQ(g.Attach(n % 2 ? kGraphWindow : kOtherWindow), S_OK);
        EXPECT_EQ(Recording().live.size(), 8u);
    }
    for (int n = 0; n < 1000; ++n) {
        RecordedGraph g(n % 5);
        if (n % 3) {
            ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
        }
    }
    EXPECT_TRUE(Recording().live.empty());
    EXPECT_EQ(Recording().made, Recording().released);
    EXPECT_EQ(Recording().badReleases, 0);
    EXPECT_EQ(Recording().releasedWhileSelected, 0);
}

TEST_F(GraphSurface, AnObjectThatCannotBeReleasedIsKeptAndNotReplaced)
{
    RecordedGraph g(1);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    HGDIOBJ brush = Recording().Made("CreateSolidBrush")[0];
    HGDIOBJ pen = Recording().Made("CreatePen")[1];
    Recording().undeletable.insert(brush);
    /* The font, made after the brush, fails too: the first failure is the
     * one reported. */
    Recording().failing.insert("CreateFontA");
    Recording().calls.clear();

    SetLastError(0);
    EXPECT_EQ(g.Attach(kGraphWindow), static_cast<HRESULT>(0x800700AA)) << "ERROR_BUSY, converted";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY)) << "the first failure's code";
    EXPECT_TRUE(Recording().Of("CreateSolidBrush").empty());
    EXPECT_EQ(Recording().live.count(pen), 0u) << "the other objects are replaced";
    EXPECT_EQ(Recording().live.size(), 4u) << "the kept brush, a bitmap and two pens";
    ASSERT_EQ(DrawLater(g), S_OK);
    EXPECT_EQ(Recording().Of("PatBlt")[0].args[6], Num(brush)) << "the kept brush paints";

    Recording().undeletable.clear();
    Recording().failing.clear();
    EXPECT_EQ(g.Attach(kGraphWindow), S_OK);
    EXPECT_EQ(Recording().live.count(brush), 0u);
    EXPECT_EQ(Recording().live.size(), 5u);
    ExpectContextsClean();

    /* Taking the objects off for an assignment keeps the caller's last
     * error, whatever the releases leave. */
    Recording().undeletable.insert(Recording().Made("CreateSolidBrush").back());
    RecordedGraph other(1);
    SetLastError(1234);
    g = other;
    EXPECT_EQ(GetLastError(), 1234u);
    Recording().undeletable.clear();
}

/* A call that fails is reported, as a converted last-error code, and left
 * as the thread's last error; the graph makes every object it can and draws
 * with what it has. */
TEST_F(GraphSurface, ACallThatFailsIsReportedAndTheRestIsDone)
{
    const HRESULT kFailed = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
    const struct {
        const char* op;
        size_t objects;         /* after Attach: pens, brush, font and bitmap */
        HRESULT drawn, resized;
    } cases[] = {
        { "GetDC", 6, kFailed, kFailed },
        { "CreateCompatibleDC", 6, S_OK, kFailed },
        { "CreateSolidBrush", 5, S_OK, S_OK },
        { "CreateFontA", 5, S_OK, S_OK },
        { "CreateCompatibleBitmap", 5, S_OK, kFailed },
        { "CreatePen", 3, S_OK, S_OK },
    };
    for (const auto& c : cases) {
        Recording().failing = { c.op };
        {
            RecordedGraph g(2);
            SetLastError(0);
            EXPECT_EQ(g.Attach(kGraphWindow), kFailed) << c.op;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY)) << c.op;
            ExpectContextsClean();
            EXPECT_EQ(Recording().live.size(), c.objects) << c.op;

            int samples[2] = { 50, 60 };
            g.Add(samples);
            EXPECT_EQ(DrawLater(g), c.drawn) << c.op;
            /* The first line ends the drawing, with the context's own pen
             * when the graph has none. */
            const COLORREF pen = c.op == std::string("CreatePen") ? tktest::kNoPen : tktest::kGreen;
            if (c.drawn == S_OK) {
                EXPECT_EQ(tktest::Strokes().back(), (tktest::Stroke{ 399, 149, 399, 149, pen })) << c.op;
            }
            EXPECT_EQ(g.Resize(SIZE_RESTORED, 500, 400), c.resized) << c.op;
            if (c.op == std::string("CreateCompatibleBitmap")) {
                EXPECT_EQ(Recording().pictures[kGraphWindow], 0) << "the window shows no released bitmap";
            }
            ExpectContextsClean();
        }
        EXPECT_TRUE(Recording().live.empty()) << c.op;
    }
}

TEST_F(GraphSurface, DestructionTakesThePictureOffAndReleasesInOrder)
{
    std::vector<HGDIOBJ> order;
    {
        RecordedGraph g(3);
        ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
        /* Font, bitmap, background brush, grid pen, then line pens from the
         * last to the first; the fourth line has none. */
        std::vector<HGDIOBJ> pens = Recording().Made("CreatePen");
        order = { Recording().Made("CreateFontA")[0], Recording().Made("CreateCompatibleBitmap")[0],
                  Recording().Made("CreateSolidBrush")[0], pens[0], pens[3], pens[2], pens[1] };
        Recording().calls.clear();
    }
    auto& calls = Recording().calls;
    ASSERT_EQ(calls.size(), 9u);
    EXPECT_EQ(calls[0].args, (std::vector<long>{ Num(kGraphWindow), STM_GETIMAGE, IMAGE_BITMAP, 0 }));
    EXPECT_EQ(calls[1].op, "SendMessageA");
    EXPECT_EQ(calls[1].args, (std::vector<long>{ Num(kGraphWindow), STM_SETIMAGE, IMAGE_BITMAP, 0 }));
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(calls[2 + i].op, "DeleteObject");
        EXPECT_EQ(calls[2 + i].args[0], Num(order[i])) << "release " << i;
    }
    EXPECT_TRUE(Recording().live.empty());
}

TEST_F(GraphSurface, AGraphTakesOnlyItsOwnPictureOffAndDeletesTheControlsCopy)
{
    /* Two graphs on one window: the one that leaves does not blank the
     * other's picture. */
    {
        RecordedGraph first(1);
        ASSERT_EQ(first.Attach(kGraphWindow), S_OK);
        {
            RecordedGraph second(1);
            ASSERT_EQ(second.Attach(kGraphWindow), S_OK);
            const LPARAM secondPicture = Picture();
            ASSERT_EQ(Recording().pictures[kGraphWindow], secondPicture);
            ASSERT_EQ(first.Attach(kOtherWindow), S_OK);
            EXPECT_EQ(Recording().pictures[kGraphWindow], secondPicture) << "the first left it alone";
            EXPECT_EQ(Recording().pictures[kOtherWindow], Picture()) << "and shows its new picture there";
            EXPECT_EQ(PictureSize(), (std::vector<long>{ 200, 100 }));
        }
        EXPECT_EQ(Recording().pictures[kGraphWindow], 0) << "the second took its own off";
    }
    EXPECT_TRUE(Recording().live.empty());

    /* A control that shows a copy gives it back when the picture comes
     * off, by Attach, Resize or the end of the graph; no copy is left. */
    Recording().copyingWindows.insert(kGraphWindow);
    {
        RecordedGraph g(1, kBelowWindow);
        ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
        EXPECT_NE(Recording().pictures[kGraphWindow], Picture());
        ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
        ASSERT_EQ(g.Resize(SIZE_RESTORED, 500, 400), S_OK);
        EXPECT_EQ(Recording().live.size(), 6u) << "five objects of the graph and one copy";
    }
    EXPECT_TRUE(Recording().live.empty());
    EXPECT_EQ(Recording().badReleases, 0);
}

/* Minimised or hidden, the graph only stops drawing; restored to the size
 * it has, it moves the second window along the parent's bottom edge, its
 * own height high, and draws again. */
TEST_F(GraphSurface, ResizeWhileMinimisedOrHiddenOrToTheSameSizeChangesNoObject)
{
    RecordedGraph g(1, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    for (unsigned type : { SIZE_MINIMIZED, SIZE_MAXHIDE }) {
        Recording().calls.clear();
        EXPECT_EQ(g.Resize(type, 640, 480), S_OK);
        Recording().now += 1000;
        EXPECT_EQ(g.Draw(), S_FALSE) << type;
        EXPECT_TRUE(Recording().calls.empty()) << type;

        EXPECT_EQ(g.Resize(SIZE_RESTORED, 400, 300), S_FALSE) << type << ": the rectangle stayed";
        ASSERT_EQ(Recording().calls.size(), 2u) << "the second window measured and moved, nothing else";
        EXPECT_EQ(Recording().calls[1].op, "MoveWindow");
        EXPECT_EQ(Recording().calls[1].args, (std::vector<long>{ Num(kBelowWindow), 0, 280, 400, 20, TRUE }));
        EXPECT_EQ(g.Draw(), S_OK) << type << ": resumed";
    }
}

TEST_F(GraphSurface, ResizeToANewSizeRemeasuresAndRepaints)
{
    RecordedGraph g(1, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    ASSERT_EQ(g.SetUnit(2), S_OK);
    ASSERT_EQ(g.SetGridUnit(5, 25), S_OK);
    HGDIOBJ old = Recording().Made("CreateCompatibleBitmap")[0];
    HGDIOBJ brush = Recording().Made("CreateSolidBrush")[0];
    Recording().calls.clear();

    EXPECT_EQ(g.Resize(SIZE_RESTORED, 500, 400), S_OK);
    EXPECT_EQ(Recording().Of("MoveWindow")[0].args, (std::vector<long>{ Num(kBelowWindow), 0, 380, 500, 20, TRUE }));
    ASSERT_EQ(Recording().Of("CreateCompatibleBitmap").size(), 1u);
    EXPECT_EQ(PictureSize(), (std::vector<long>{ 500, 380 }));
    EXPECT_LT(Recording().IndexOf("DeleteObject", Num(old)), Recording().IndexOf("CreateCompatibleBitmap"));
    EXPECT_EQ(Recording().pictures[kGraphWindow], Picture());

    /* The new bitmap is filled, and the window painted, with the background. */
    auto fills = Recording().Of("PatBlt");
    ASSERT_EQ(fills.size(), 2u);
    EXPECT_EQ(fills[0].args[7], Picture());
    long window = Recording().Of("ReleaseDC")[0].args[1];
    EXPECT_EQ(fills[1].args, (std::vector<long>{ window, 0, 0, 500, 380, PATCOPY, Num(brush),
                                                 Num(tktest::StockOf(Kind::Bitmap)) }));
    EXPECT_EQ(Recording().live.size(), 5u);
    ExpectContextsClean();

    /* 250 steps of 2 across, 3.79 pixels a value unit over 379 rows, a
     * horizontal grid line every 94.75 pixels; the vertical ones stay 20
     * apart. */
    for (int n = 0; n < 300; ++n) {
        int v = 50;
        g.Add(&v);
    }
    EXPECT_EQ(g.Samples(0).size(), 250u);
    ASSERT_EQ(DrawLater(g), S_OK);
    std::vector<tktest::Stroke> line = tktest::StrokesIn(tktest::kGreen);
    ASSERT_EQ(line.size(), 250u);
    EXPECT_EQ(line[0], (tktest::Stroke{ 499, 189, 499, 189, tktest::kGreen }));
    EXPECT_EQ(line.back().x2, 1);
    EXPECT_EQ(tktest::Rows(), (std::vector<int>{ 379, 284, 189, 94, 0 }));
    std::vector<int> columns = tktest::Columns();
    ASSERT_GE(columns.size(), 2u);
    EXPECT_EQ(columns[0] - columns[1], 20);

    EXPECT_EQ(g.Resize(SIZE_RESTORED, -1, 400), E_INVALIDARG);
    EXPECT_EQ(g.Resize(SIZE_RESTORED, 500, -400), E_INVALIDARG);
    EXPECT_EQ(g.Resize(SIZE_RESTORED, 500, 400), S_FALSE) << "the rectangle stayed";
    EXPECT_EQ(g.Resize(SIZE_RESTORED, 500, 300), S_OK) << "a new height alone is a new size";
}

TEST_F(GraphSurface, ACopyHasNoObjectsUntilItsOwnAttach)
{
    RecordedGraph source(2);
    ASSERT_EQ(source.Attach(kGraphWindow), S_OK);
    const LPARAM picture = Picture();
    HGDIOBJ brush = Recording().Made("CreateSolidBrush")[0];
    Recording().calls.clear();
    {
        RecordedGraph copy(source);
        Recording().now += 1000;
        EXPECT_EQ(copy.Draw(), E_FAIL);
    }
    EXPECT_TRUE(Recording().calls.empty()) << "the copy leaves the source's window and objects alone";
    EXPECT_EQ(Recording().pictures[kGraphWindow], picture);
    EXPECT_EQ(Recording().live.size(), 6u);
    ASSERT_EQ(DrawLater(source), S_OK);
    EXPECT_EQ(Recording().Of("PatBlt")[0].args[6], Num(brush));

    RecordedGraph copy(source);
    ASSERT_EQ(copy.Attach(kOtherWindow), S_OK);
    EXPECT_EQ(Recording().live.size(), 12u) << "two sets, each graph its own";

    /* Assignment detaches the target: its objects go, its window shows none. */
    copy = source;
    EXPECT_EQ(Recording().pictures[kOtherWindow], 0);
    EXPECT_EQ(Recording().live.size(), 6u);
    EXPECT_EQ(copy.Draw(), E_FAIL);
    EXPECT_EQ(Recording().badReleases, 0);
}

}  // namespace
