/* Binding a graph to its window: measuring, the drawing objects and their
 * release, size changes and destruction, over the recording surface. */
#include <gtest/gtest.h>

#include "support/recording_surface.h"

using tktest::Call;
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
        tktest::FreshWithStatusBar(5000);
        Recording().windows[kOtherWindow] = RECT{ 0, 0, 200, 100 };
    }

    /* Every context given back, and nothing of ours left in one. */
    void ExpectContextsClean()
    {
        for (auto& entry : Recording().live)
            EXPECT_TRUE(entry.second != Kind::WindowDC && entry.second != Kind::MemoryDC)
                << "a drawing context is still held";
        EXPECT_EQ(Recording().releasedWhileSelected, 0);
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

    static std::vector<HGDIOBJ> Objects(const RecordedGraph& g)
    {
        return { g.m_Pens[0].Handle(), g.m_Pens[1].Handle(), g.m_Pens[2].Handle(), g.m_Pens[3].Handle(),
                 g.m_GridPen.Handle(), g.m_BkBrush.Handle(), g.m_Bitmap.Handle(), g.m_Font.Handle() };
    }
};

TEST_F(GraphSurface, AttachWithoutAWindowMakesNothing)
{
    RecordedGraph g(2);
    EXPECT_EQ(g.Attach(nullptr), E_INVALIDARG);
    EXPECT_TRUE(Recording().calls.empty());
    EXPECT_EQ(g.m_hWnd, nullptr);

    HWND gone = reinterpret_cast<HWND>(0x4444);
    EXPECT_EQ(g.Attach(gone), E_INVALIDARG);
    EXPECT_EQ(g.m_hWnd, nullptr);
    EXPECT_EQ(Recording().made, 0);
    EXPECT_EQ(g.Draw(), E_FAIL) << "still not attached";
}

TEST_F(GraphSurface, AttachMeasuresTheWindowAndMakesEveryObject)
{
    RecordedGraph g(2, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);

    EXPECT_EQ(g.m_hWnd, kGraphWindow);
    EXPECT_EQ(g.m_Rect.left, 0);
    EXPECT_EQ(g.m_Rect.top, 0);
    EXPECT_EQ(g.m_Rect.right, 400);
    EXPECT_EQ(g.m_Rect.bottom, 280);
    EXPECT_EQ(g.m_fScaleY, 2.79f);
    EXPECT_EQ(static_cast<double>(g.m_fScaleY), 2.7899999618530273);
    EXPECT_EQ(g.m_fGridX, 12.0f);
    EXPECT_EQ(g.m_fGridY, 69.75f);
    EXPECT_EQ(g.m_nMaxSamples, 1u) << "the bound waits for SetUnit or Resize";
    EXPECT_EQ(g.m_dwLastDraw, 5000u);

    auto bitmaps = Recording().Of("CreateCompatibleBitmap");
    ASSERT_EQ(bitmaps.size(), 1u);
    EXPECT_EQ(bitmaps[0].args[1], 400);
    EXPECT_EQ(bitmaps[0].args[2], 280);
    HGDIOBJ bitmap = g.m_Bitmap.Handle();
    ASSERT_NE(bitmap, nullptr);

    /* Filled with the background in a memory context, then shown. */
    auto fills = Recording().Of("PatBlt");
    ASSERT_EQ(fills.size(), 1u);
    EXPECT_EQ(fills[0].args, (std::vector<long>{ fills[0].args[0], 0, 0, 400, 280, PATCOPY,
                                                 Num(g.m_BkBrush.Handle()), Num(bitmap) }));
    EXPECT_EQ(Recording().live.count(reinterpret_cast<HANDLE>(fills[0].args[0])), 0u)
        << "the memory context is deleted";
    EXPECT_EQ(Recording().pictures[kGraphWindow], reinterpret_cast<LPARAM>(bitmap));
    EXPECT_GT(Recording().IndexOf("SendMessageA"), Recording().IndexOf("DeleteDC"))
        << "the bitmap is shown only once no context holds it";

    EXPECT_EQ(Recording().Of("CreateSolidBrush")[0].args, std::vector<long>{ 0 });
    Call font = Recording().Of("CreateFontA")[0];
    EXPECT_EQ(font.args, (std::vector<long>{ 14, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, OUT_TT_PRECIS,
                                             CLIP_DEFAULT_PRECIS, PROOF_QUALITY, 0 }));
    EXPECT_EQ(font.text, "Arial");
    auto pens = Recording().Of("CreatePen");
    ASSERT_EQ(pens.size(), 3u) << "grid pen and one pen per line";
    EXPECT_EQ(pens[0].args, (std::vector<long>{ PS_SOLID, 1, 0x408000 }));
    EXPECT_EQ(pens[1].args, (std::vector<long>{ PS_SOLID, 1, 0x00FF00 }));
    EXPECT_EQ(pens[2].args, (std::vector<long>{ PS_SOLID, 1, 0x00FFFF }));
    EXPECT_EQ(g.m_Pens[2].Handle(), nullptr);
    EXPECT_EQ(Recording().live.size(), 6u);
    ExpectContextsClean();
}

TEST_F(GraphSurface, AttachAgainReplacesEachObjectAfterReleasingIt)
{
    RecordedGraph g(2);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    std::vector<HGDIOBJ> first = Objects(g);
    unsigned long colors[2] = { 0x0000AA, 0x00AA00 };
    int widths[2] = { 2, 3 };
    g.SetLineColor(colors, widths);
    g.SetBkColor(0x202020);
    Recording().calls.clear();

    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    std::vector<HGDIOBJ> second = Objects(g);
    /* Each object of the first set goes before the call that makes its
     * successor: pens are made grid pen first, then line by line. */
    struct { int object; const char* maker; int nth; } successors[] = {
        { 4, "CreatePen", 0 }, { 0, "CreatePen", 1 }, { 1, "CreatePen", 2 },
        { 5, "CreateSolidBrush", 0 }, { 6, "CreateCompatibleBitmap", 0 }, { 7, "CreateFontA", 0 },
    };
    for (auto& s : successors) {
        int released = Recording().IndexOf("DeleteObject", Num(first[s.object]));
        ASSERT_GE(released, 0) << "object " << s.object << " released";
        EXPECT_LT(released, NthIndex(s.maker, s.nth)) << "object " << s.object << " released first";
        EXPECT_NE(second[s.object], first[s.object]);
    }
    EXPECT_EQ(Recording().Of("CreatePen")[1].args, (std::vector<long>{ PS_SOLID, 2, 0x0000AA }));
    EXPECT_EQ(Recording().Of("CreateSolidBrush")[0].args, std::vector<long>{ 0x202020 });
    EXPECT_EQ(Recording().live.size(), 6u);
    ExpectContextsClean();
}

TEST_F(GraphSurface, TheSecondWindowsHeightIsTakenOffOnceWhereverItLies)
{
    /* The graph learns nothing of where the second window lies: beside,
     * below or over the graph window, its client height comes off. */
    RecordedGraph g(1, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    EXPECT_EQ(g.m_Rect.bottom, 280);
    EXPECT_EQ(g.m_Rect.right, 400);
    EXPECT_EQ(g.Resize(SIZE_RESTORED, 400, 300), S_FALSE) << "the rectangle the graph already has";

    /* A control that keeps its size is measured the same each time. */
    for (int n = 0; n < 3; ++n) {
        ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
        EXPECT_EQ(g.m_Rect.bottom, 280);
    }
    /* A static control that took the size of this graph's picture is not
     * cut again by this graph, however often it attaches. */
    Recording().windows[kGraphWindow] = RECT{ 0, 0, 400, 280 };
    for (int n = 0; n < 3; ++n) {
        ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
        EXPECT_EQ(g.m_Rect.bottom, 280);
    }
    /* Another graph, or another size, is measured by the rule. */
    RecordedGraph fresh(1, kBelowWindow);
    ASSERT_EQ(fresh.Attach(kGraphWindow), S_OK);
    EXPECT_EQ(fresh.m_Rect.bottom, 260);
    Recording().windows[kGraphWindow] = RECT{ 0, 0, 400, 250 };
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    EXPECT_EQ(g.m_Rect.bottom, 230);
}

TEST_F(GraphSurface, AThousandAttachesAndGraphsHoldOneSetOfObjects)
{
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
    HGDIOBJ brush = g.m_BkBrush.Handle();
    HGDIOBJ pen = g.m_Pens[0].Handle();
    Recording().undeletable.insert(brush);
    Recording().calls.clear();

    SetLastError(0);
    EXPECT_EQ(g.Attach(kGraphWindow), static_cast<HRESULT>(0x800700AA)) << "ERROR_BUSY, converted";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY)) << "cleanup kept the failure's code";
    EXPECT_EQ(g.m_BkBrush.Handle(), brush);
    EXPECT_TRUE(Recording().Of("CreateSolidBrush").empty());
    EXPECT_NE(g.m_Pens[0].Handle(), pen) << "the other objects are replaced";
    EXPECT_EQ(Recording().live.size(), 5u);

    Recording().undeletable.clear();
    EXPECT_EQ(g.Attach(kGraphWindow), S_OK);
    EXPECT_NE(g.m_BkBrush.Handle(), brush);
    EXPECT_EQ(Recording().live.size(), 5u);
    ExpectContextsClean();
}

TEST_F(GraphSurface, AnObjectThatCannotBeMadeIsReportedAndTheRestIsMade)
{
    RecordedGraph g(2);
    Recording().failing.insert("CreatePen");
    SetLastError(0);
    EXPECT_EQ(g.Attach(kGraphWindow), static_cast<HRESULT>(0x80070008));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(g.m_Pens[0].Handle(), nullptr);
    EXPECT_EQ(g.m_GridPen.Handle(), nullptr);
    EXPECT_NE(g.m_BkBrush.Handle(), nullptr);
    EXPECT_NE(g.m_Bitmap.Handle(), nullptr);

    Recording().now += 500;
    int samples[2] = { 50, 60 };
    g.Add(samples);
    EXPECT_EQ(g.Draw(), S_OK) << "the graph draws with what it has";
    EXPECT_EQ(Recording().Of("LineTo").back().args[3], Num(tktest::StockOf(Kind::Pen)));

    Recording().failing.clear();
    Recording().failing.insert("CreateCompatibleBitmap");
    EXPECT_EQ(g.Attach(kGraphWindow), static_cast<HRESULT>(0x80070008));
    EXPECT_EQ(g.m_Bitmap.Handle(), nullptr);
    EXPECT_NE(g.m_Pens[1].Handle(), nullptr);
    EXPECT_EQ(Recording().pictures[kGraphWindow], 0) << "the window shows no released bitmap";
    ExpectContextsClean();
}

TEST_F(GraphSurface, DestructionTakesThePictureOffAndReleasesInOrder)
{
    HGDIOBJ objects[8];
    {
        RecordedGraph g(3);
        ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
        std::vector<HGDIOBJ> o = Objects(g);
        std::copy(o.begin(), o.end(), objects);
        Recording().calls.clear();
    }
    auto& calls = Recording().calls;
    ASSERT_EQ(calls.size(), 9u);
    EXPECT_EQ(calls[0].args, (std::vector<long>{ Num(kGraphWindow), STM_GETIMAGE, IMAGE_BITMAP, 0 }));
    EXPECT_EQ(calls[1].op, "SendMessageA");
    EXPECT_EQ(calls[1].args, (std::vector<long>{ Num(kGraphWindow), STM_SETIMAGE, IMAGE_BITMAP, 0 }));
    /* Font, bitmap, background brush, grid pen, then line pens from the
     * last to the first; the fourth line has none. */
    const int order[7] = { 7, 6, 5, 4, 2, 1, 0 };
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(calls[2 + i].op, "DeleteObject");
        EXPECT_EQ(calls[2 + i].args[0], Num(objects[order[i]])) << "release " << i;
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
            const LPARAM secondPicture = reinterpret_cast<LPARAM>(second.m_Bitmap.Handle());
            ASSERT_EQ(Recording().pictures[kGraphWindow], secondPicture);
            first.Attach(kOtherWindow);
            EXPECT_EQ(Recording().pictures[kGraphWindow], secondPicture) << "the first left it alone";
        }
        EXPECT_EQ(Recording().pictures[kGraphWindow], 0) << "the second took its own off";
        EXPECT_NE(Recording().pictures[kOtherWindow], 0);
    }
    EXPECT_TRUE(Recording().live.empty());

    /* A control that shows a copy gives it back when the picture comes
     * off, by Attach, Resize or the end of the graph; no copy is left. */
    Recording().copyingWindows.insert(kGraphWindow);
    {
        RecordedGraph g(1, kBelowWindow);
        ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
        EXPECT_NE(Recording().pictures[kGraphWindow], reinterpret_cast<LPARAM>(g.m_Bitmap.Handle()));
        ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
        ASSERT_EQ(g.Resize(SIZE_RESTORED, 500, 400), S_OK);
        EXPECT_EQ(Recording().live.size(), 6u) << "five objects of the graph and one copy";
    }
    EXPECT_TRUE(Recording().live.empty());
    EXPECT_EQ(Recording().badReleases, 0);
}

TEST_F(GraphSurface, AGraphNeverAttachedReleasesNothing)
{
    {
        RecordedGraph g(4, kBelowWindow);
        int samples[4] = { 1, 2, 3, 4 };
        g.Add(samples);
    }
    EXPECT_TRUE(Recording().calls.empty());
    EXPECT_EQ(Recording().allocations, Recording().frees) << "the histories are freed";
}

TEST_F(GraphSurface, ResizeWhileMinimisedOrHiddenOnlySuspends)
{
    RecordedGraph g(1, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    Recording().calls.clear();
    for (unsigned type : { SIZE_MINIMIZED, SIZE_MAXHIDE }) {
        EXPECT_EQ(g.Resize(type, 640, 480), S_OK);
        EXPECT_TRUE(g.m_bSuspended);
        EXPECT_TRUE(Recording().calls.empty());
        EXPECT_EQ(g.m_Rect.right, 400);
    }
    EXPECT_EQ(g.Resize(SIZE_MAXSHOW, 400, 300), S_FALSE);
    EXPECT_FALSE(g.m_bSuspended);
}

TEST_F(GraphSurface, ResizeToTheSameSizeMovesTheSecondWindowOnly)
{
    RecordedGraph g(1, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    g.Resize(SIZE_MINIMIZED, 0, 0);
    HGDIOBJ bitmap = g.m_Bitmap.Handle();
    int made = Recording().made;
    Recording().calls.clear();

    EXPECT_EQ(g.Resize(SIZE_RESTORED, 400, 300), S_FALSE);
    EXPECT_FALSE(g.m_bSuspended);
    auto moves = Recording().Of("MoveWindow");
    ASSERT_EQ(moves.size(), 1u);
    /* Along the parent's bottom edge, its own height high. */
    EXPECT_EQ(moves[0].args, (std::vector<long>{ Num(kBelowWindow), 0, 280, 400, 20, TRUE }));
    EXPECT_EQ(g.m_Bitmap.Handle(), bitmap);
    EXPECT_EQ(Recording().made, made);
    EXPECT_EQ(Recording().calls.size(), 2u) << "the second window measured and moved, nothing else";
}

TEST_F(GraphSurface, ResizeToANewSizeRemeasuresAndRepaints)
{
    RecordedGraph g(1, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    ASSERT_EQ(g.SetUnit(2), S_OK);
    ASSERT_EQ(g.SetGridUnit(5, 25), S_OK);
    HGDIOBJ old = g.m_Bitmap.Handle();
    Recording().calls.clear();

    EXPECT_EQ(g.Resize(SIZE_RESTORED, 500, 400), S_OK);
    EXPECT_EQ(g.m_Rect.right, 500);
    EXPECT_EQ(g.m_Rect.bottom, 380);
    EXPECT_EQ(g.m_nMaxSamples, 250u);
    EXPECT_EQ(g.m_fGridX, 20.0f) << "the vertical spacing stays";
    EXPECT_EQ(g.m_fScaleY, 3.79f);
    EXPECT_EQ(g.m_fGridY, 94.75f);
    EXPECT_EQ(Recording().Of("MoveWindow")[0].args, (std::vector<long>{ Num(kBelowWindow), 0, 380, 500, 20, TRUE }));

    auto made = Recording().Of("CreateCompatibleBitmap");
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].args[1], 500);
    EXPECT_EQ(made[0].args[2], 380);
    EXPECT_LT(Recording().IndexOf("DeleteObject", Num(old)), Recording().IndexOf("CreateCompatibleBitmap"));
    EXPECT_EQ(Recording().pictures[kGraphWindow], reinterpret_cast<LPARAM>(g.m_Bitmap.Handle()));

    /* The new bitmap is filled, and the window painted, with the background. */
    auto fills = Recording().Of("PatBlt");
    ASSERT_EQ(fills.size(), 2u);
    EXPECT_EQ(fills[0].args[7], Num(g.m_Bitmap.Handle()));
    long window = Recording().Of("ReleaseDC")[0].args[1];
    EXPECT_EQ(fills[1].args, (std::vector<long>{ window, 0, 0, 500, 380, PATCOPY, Num(g.m_BkBrush.Handle()),
                                                 Num(tktest::StockOf(Kind::Bitmap)) }));
    EXPECT_EQ(Recording().live.size(), 5u);
    ExpectContextsClean();

    EXPECT_EQ(g.Resize(SIZE_RESTORED, -1, 400), E_INVALIDARG);
    EXPECT_EQ(g.Resize(SIZE_RESTORED, 500, -400), E_INVALIDARG);
    EXPECT_EQ(g.m_Rect.right, 500);
}

TEST_F(GraphSurface, ResizeBeforeAttachTakesTheSizeButPaintsNothing)
{
    RecordedGraph g(1);
    EXPECT_EQ(g.Resize(SIZE_RESTORED, 300, 200), S_OK);
    EXPECT_EQ(g.m_Rect.right, 300);
    EXPECT_EQ(g.m_nMaxSamples, 300u);
    EXPECT_TRUE(Recording().calls.empty());
}

TEST_F(GraphSurface, AGraphWithoutHeightDrawsWithoutGridRows)
{
    Recording().windows[kBelowWindow] = RECT{ 0, 0, 400, 350 };
    RecordedGraph g(1, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    EXPECT_EQ(g.m_Rect.bottom, 0);
    int v = 50;
    g.Add(&v);
    Recording().now += 600;
    EXPECT_EQ(g.Draw(), S_OK);
    EXPECT_TRUE(Recording().Of("TextOutA").empty());
    EXPECT_EQ(g.Resize(SIZE_RESTORED, 400, 300), S_FALSE) << "the parent's height less the second window's";
}

TEST_F(GraphSurface, ACopyHasNoObjectsUntilItsOwnAttach)
{
    RecordedGraph source(2);
    ASSERT_EQ(source.Attach(kGraphWindow), S_OK);
    std::vector<HGDIOBJ> objects = Objects(source);
    {
        RecordedGraph copy(source);
        for (HGDIOBJ o : Objects(copy))
            EXPECT_EQ(o, nullptr);
        Recording().now += 1000;
        EXPECT_EQ(copy.Draw(), E_FAIL);
        Recording().calls.clear();
    }
    EXPECT_TRUE(Recording().calls.empty()) << "the copy leaves the source's window and objects alone";
    EXPECT_EQ(Recording().pictures[kGraphWindow], reinterpret_cast<LPARAM>(source.m_Bitmap.Handle()));

    EXPECT_EQ(Objects(source), objects);

    RecordedGraph copy(source);
    ASSERT_EQ(copy.Attach(kOtherWindow), S_OK);
    EXPECT_EQ(Recording().live.size(), 12u) << "two sets, each graph its own";

    /* Assignment detaches the target: its objects go, its window shows none. */
    copy = source;
    EXPECT_EQ(Recording().pictures[kOtherWindow], 0);
    EXPECT_EQ(Recording().live.size(), 6u);
    EXPECT_EQ(copy.m_hWnd, kGraphWindow);
    EXPECT_EQ(copy.Draw(), E_FAIL);
    EXPECT_EQ(Recording().badReleases, 0);
}

TEST_F(GraphSurface, AttachingElsewhereTakesThePictureOffTheOldWindow)
{
    RecordedGraph g(1);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    ASSERT_EQ(g.Attach(kOtherWindow), S_OK);
    EXPECT_EQ(Recording().pictures[kGraphWindow], 0);
    EXPECT_EQ(Recording().pictures[kOtherWindow], reinterpret_cast<LPARAM>(g.m_Bitmap.Handle()));
    EXPECT_EQ(g.m_Rect.right, 200);
}

}  // namespace
