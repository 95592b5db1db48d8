/* Drawing: the 500 ms rule, background, grid with labels, the scrolling
 * offset and the lines, with exact coordinates from the recording surface. */
#include <gtest/gtest.h>

#include "support/recording_surface.h"

using tktest::Call;
using tktest::Kind;
using tktest::Num;
using tktest::RecordedGraph;
using tktest::Recording;
using tktest::kBelowWindow;
using tktest::kGraphWindow;

namespace {

/* One LineTo: from the current position to its end, with its pen. */
struct Stroke {
    int x1, y1, x2, y2;
    long pen;
    bool operator==(const Stroke& o) const
    {
        return x1 == o.x1 && y1 == o.y1 && x2 == o.x2 && y2 == o.y2 && pen == o.pen;
    }
};

std::ostream& operator<<(std::ostream& out, const Stroke& s)
{
    return out << "(" << s.x1 << "," << s.y1 << ")-(" << s.x2 << "," << s.y2 << ") pen " << s.pen;
}

std::vector<Stroke> Strokes()
{
    std::vector<Stroke> strokes;
    int x = 0, y = 0;
    for (const Call& c : Recording().calls) {
        if (c.op == "MoveToEx") {
            x = c.args[1];
            y = c.args[2];
        } else if (c.op == "LineTo") {
            strokes.push_back(Stroke{ x, y, static_cast<int>(c.args[1]), static_cast<int>(c.args[2]), c.args[3] });
            x = c.args[1];
            y = c.args[2];
        }
    }
    return strokes;
}

std::vector<Stroke> StrokesWith(HGDIOBJ pen)
{
    std::vector<Stroke> all = Strokes(), found;
    for (const Stroke& s : all)
        if (s.pen == Num(pen))
            found.push_back(s);
    return found;
}

/* The row of a value under the range 0 to 100 on a 280-pixel rectangle. */
int RowOf(int value)
{
    return static_cast<int>((100.0 - value) * static_cast<double>(2.79f));
}

class GraphPlot : public ::testing::Test {
protected:
    void SetUp() override
    {
        tktest::FreshWithStatusBar(1000);
        RecordedGraph::s_nGridOffset = 0;
    }

    /* Draws when the interval has passed, recording only that drawing. */
    HRESULT DrawLater(CGraph& g)
    {
        Recording().now += 500;
        Recording().calls.clear();
        return g.Draw();
    }
};

TEST_F(GraphPlot, DrawsAtMostOnceInFiveHundredMilliseconds)
{
    RecordedGraph g(1, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    Recording().calls.clear();

    Recording().now = 1499;
    EXPECT_EQ(g.Draw(), S_FALSE);
    EXPECT_TRUE(Recording().calls.empty());
    EXPECT_EQ(g.m_dwLastDraw, 1000u);
    Recording().now = 1500;
    EXPECT_EQ(g.Draw(), S_OK);
    EXPECT_EQ(g.m_dwLastDraw, 1500u);
    Recording().now = 1999;
    EXPECT_EQ(g.Draw(), S_FALSE);
    Recording().now = 2000;
    EXPECT_EQ(g.Draw(), S_OK);
}

TEST_F(GraphPlot, TheIntervalIsRightAcrossTheClocksWrap)
{
    RecordedGraph g(1, kBelowWindow);
    Recording().now = 0xFFFFFF00;   /* 256 ms before the wrap */
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    Recording().now = 243;
    EXPECT_EQ(g.Draw(), S_FALSE);
    Recording().now = 244;
    EXPECT_EQ(g.Draw(), S_OK);
    EXPECT_EQ(g.m_dwLastDraw, 244u);
}

TEST_F(GraphPlot, NothingIsDrawnWhileSuspendedOrUnattached)
{
    RecordedGraph unattached(1);
    Recording().now = 100000;
    EXPECT_EQ(unattached.Draw(), E_FAIL);
    EXPECT_TRUE(Recording().calls.empty());

    RecordedGraph g(1, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    g.Resize(SIZE_MINIMIZED, 0, 0);
    Recording().calls.clear();
    Recording().now += 1000000;
    EXPECT_EQ(g.Draw(), S_FALSE);
    EXPECT_TRUE(Recording().calls.empty());
    g.Resize(SIZE_RESTORED, 400, 300);
    EXPECT_EQ(g.Draw(), S_OK);
}

TEST_F(GraphPlot, BackgroundThenGridRowsWithTheirLabels)
{
    RecordedGraph g(1, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    ASSERT_EQ(DrawLater(g), S_OK);

    auto fills = Recording().Of("PatBlt");
    ASSERT_EQ(fills.size(), 1u);
    EXPECT_EQ(fills[0].args[1], 0);
    EXPECT_EQ(fills[0].args[2], 0);
    EXPECT_EQ(fills[0].args[3], 400);
    EXPECT_EQ(fills[0].args[4], 280);
    EXPECT_EQ(fills[0].args[5], static_cast<long>(PATCOPY));
    EXPECT_EQ(fills[0].args[6], Num(g.m_BkBrush.Handle()));
    EXPECT_LT(Recording().IndexOf("PatBlt"), Recording().IndexOf("MoveToEx")) << "background first";

    std::vector<Stroke> rows;
    for (const Stroke& s : StrokesWith(g.m_GridPen.Handle()))
        if (s.y1 == s.y2)
            rows.push_back(s);
    long pen = Num(g.m_GridPen.Handle());
    EXPECT_EQ(rows, (std::vector<Stroke>{ { 0, 279, 399, 279, pen }, { 0, 209, 399, 209, pen },
                                           { 0, 139, 399, 139, pen }, { 0, 69, 399, 69, pen },
                                           { 0, 0, 399, 0, pen } }));
    auto labels = Recording().Of("TextOutA");
    const char* texts[5] = { "    0", "   25", "   50", "   75", "  100" };
    const int at[5] = { 279, 209, 139, 69, 0 };
    ASSERT_EQ(labels.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(labels[i].text, texts[i]);
        EXPECT_EQ(labels[i].args[1], 1);
        EXPECT_EQ(labels[i].args[2], at[i]);
        EXPECT_EQ(labels[i].args[3], 5);
        EXPECT_EQ(labels[i].args[4], Num(g.m_Font.Handle()));
    }
    EXPECT_EQ(Recording().Of("SetBkMode")[0].args[1], TRANSPARENT);
    EXPECT_EQ(Recording().Of("SetTextColor")[0].args[1], 0x408000);
}

TEST_F(GraphPlot, VerticalGridLinesScrollWithTheSharedOffset)
{
    RecordedGraph g(1, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    ASSERT_EQ(DrawLater(g), S_OK);
    std::vector<int> columns;
    for (const Stroke& s : StrokesWith(g.m_GridPen.Handle()))
        if (s.x1 == s.x2) {
            EXPECT_EQ(s.y1, 0);
            EXPECT_EQ(s.y2, 279);
            columns.push_back(s.x1);
        }
    std::vector<int> expected;
    for (int x = 399; x >= 0; x -= 12)
        expected.push_back(x);
    EXPECT_EQ(expected.back(), 3);
    EXPECT_EQ(columns, expected);
    EXPECT_EQ(RecordedGraph::s_nGridOffset, 1);

    ASSERT_EQ(DrawLater(g), S_OK);
    EXPECT_EQ(StrokesWith(g.m_GridPen.Handle())[0].x1, 398) << "one step left";
    for (int n = 2; n < 12; ++n)
        ASSERT_EQ(DrawLater(g), S_OK);
    EXPECT_EQ(RecordedGraph::s_nGridOffset, 0) << "twelve drawings bring it back";

    /* Two graphs share the one offset, each advancing it by its step. */
    RecordedGraph other(1, kBelowWindow);
    ASSERT_EQ(other.Attach(kGraphWindow), S_OK);
    ASSERT_EQ(other.SetUnit(2), S_OK);
    for (int cycle = 0; cycle < 2; ++cycle) {
        ASSERT_EQ(DrawLater(g), S_OK);
        ASSERT_EQ(DrawLater(other), S_OK);
    }
    EXPECT_EQ(RecordedGraph::s_nGridOffset, 6);
}

TEST_F(GraphPlot, SamplesLieOneStepApartFromTheRightEdge)
{
    RecordedGraph g(1, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    ASSERT_EQ(g.SetUnit(1), S_OK);   /* Attach leaves the bound at 1 */
    const int values[5] = { 0, 25, 50, 75, 100 };
    for (int n = 0; n < 300; ++n) {
        int v = values[n % 5];
        g.Add(&v);
    }
    ASSERT_EQ(g.SetUnit(2), S_OK);
    ASSERT_EQ(g.m_History[0].Count(), 300u) << "the history is trimmed at the next Add only";
    ASSERT_EQ(DrawLater(g), S_OK);

    std::vector<Stroke> line = StrokesWith(g.m_Pens[0].Handle());
    ASSERT_EQ(line.size(), 200u) << "columns 399, 397, ..., 1";
    int newest = values[299 % 5];
    EXPECT_EQ(line[0], (Stroke{ 399, RowOf(newest), 399, RowOf(newest), Num(g.m_Pens[0].Handle()) }));
    for (int k = 0; k < 200; ++k) {
        EXPECT_EQ(line[k].x2, 399 - 2 * k);
        EXPECT_EQ(line[k].y2, RowOf(values[(299 - k) % 5])) << "sample " << k;
    }
    EXPECT_EQ(line.back().x2, 1);
    EXPECT_EQ(RowOf(0), 278);
    EXPECT_EQ(RowOf(25), 209);
    EXPECT_EQ(RowOf(50), 139);
    EXPECT_EQ(RowOf(75), 69);
    EXPECT_EQ(RowOf(100), 0);
}

TEST_F(GraphPlot, LinesAreDrawnFromTheLastToTheFirst)
{
    RecordedGraph g(3, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    ASSERT_EQ(g.SetUnit(1), S_OK);   /* Attach leaves the bound at 1 */
    int samples[3] = { 10, 20, 30 };
    g.Add(samples);
    g.Add(samples);
    ASSERT_EQ(DrawLater(g), S_OK);

    std::vector<long> pens;
    for (const Stroke& s : Strokes())
        if (s.pen != Num(g.m_GridPen.Handle()) && (pens.empty() || pens.back() != s.pen))
            pens.push_back(s.pen);
    EXPECT_EQ(pens, (std::vector<long>{ Num(g.m_Pens[2].Handle()), Num(g.m_Pens[1].Handle()),
                                        Num(g.m_Pens[0].Handle()) }));
    EXPECT_EQ(StrokesWith(g.m_Pens[1].Handle()).back(),
              (Stroke{ 399, RowOf(20), 398, RowOf(20), Num(g.m_Pens[1].Handle()) }));
}

TEST_F(GraphPlot, AnEmptyHistoryDrawsNothingAndOneSampleAPoint)
{
    RecordedGraph g(2, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    ASSERT_EQ(DrawLater(g), S_OK);
    EXPECT_TRUE(StrokesWith(g.m_Pens[0].Handle()).empty());
    EXPECT_TRUE(StrokesWith(g.m_Pens[1].Handle()).empty());

    int samples[2] = { 50, 100 };
    g.Add(samples);
    ASSERT_EQ(DrawLater(g), S_OK);
    EXPECT_EQ(StrokesWith(g.m_Pens[0].Handle()),
              (std::vector<Stroke>{ { 399, 139, 399, 139, Num(g.m_Pens[0].Handle()) } }));
}

TEST_F(GraphPlot, EverythingSelectedIsPutBackAndTheContextReleased)
{
    RecordedGraph g(2, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    int samples[2] = { 50, 100 };
    g.Add(samples);
    ASSERT_EQ(DrawLater(g), S_OK);
    EXPECT_EQ(Recording().releasedWhileSelected, 0);
    EXPECT_EQ(Recording().Of("ReleaseDC").size(), 1u);
    EXPECT_EQ(Recording().Of("SetBkMode").back().args[1], OPAQUE);
    EXPECT_EQ(Recording().Of("SetTextColor").back().args[1], 0);
    for (auto& entry : Recording().live)
        EXPECT_NE(entry.second, Kind::WindowDC);
}

class FailingGrid : public RecordedGraph {
public:
    explicit FailingGrid(int lines) : RecordedGraph(lines, kBelowWindow) {}
    HDC seen = nullptr;
    HRESULT DrawGrid(CClientDC& dc) override
    {
        seen = dc;
        tktest::kRecordingSurface.textOutA(dc, 7, 8, "own", 3);
        return E_NOTIMPL;
    }
};

TEST_F(GraphPlot, AFailingDerivedGridStopsTheDrawing)
{
    FailingGrid g(2);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    int samples[2] = { 50, 60 };
    g.Add(samples);
    ASSERT_EQ(DrawLater(g), E_NOTIMPL);

    EXPECT_EQ(Recording().Of("PatBlt").size(), 1u);
    EXPECT_EQ(Recording().Of("PatBlt")[0].args[0], Num(g.seen)) << "the grid got the drawing's context";
    auto texts = Recording().Of("TextOutA");
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].text, "own");
    EXPECT_TRUE(Recording().Of("LineTo").empty()) << "no line after a failed grid";
    EXPECT_EQ(Recording().Of("ReleaseDC").size(), 1u);
    EXPECT_EQ(Recording().releasedWhileSelected, 0);
    EXPECT_EQ(g.m_dwLastDraw, Recording().now);
}

TEST_F(GraphPlot, SpacingsBelowOnePixelDrawNoGridOfThatDirection)
{
    RecordedGraph g(1, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    int v = 40;
    g.Add(&v);
    RecordedGraph::s_nGridOffset = 5;
    for (auto grid : { std::make_pair(0, 0), std::make_pair(-3, -25) }) {
        ASSERT_EQ(g.SetGridUnit(grid.first, grid.second), S_OK);
        ASSERT_EQ(DrawLater(g), S_OK);
        EXPECT_TRUE(StrokesWith(g.m_GridPen.Handle()).empty());
        EXPECT_TRUE(Recording().Of("TextOutA").empty());
        EXPECT_EQ(RecordedGraph::s_nGridOffset, 5) << "no vertical lines, no scrolling";
        EXPECT_EQ(StrokesWith(g.m_Pens[0].Handle()).size(), 1u) << "the lines are still drawn";
    }

    /* One vertical line a pixel apart is the least that is drawn. */
    ASSERT_EQ(g.SetGridUnit(1, 25), S_OK);
    g.m_fGridX = 1.0f;
    ASSERT_EQ(DrawLater(g), S_OK);
    int vertical = 0;
    for (const Stroke& s : StrokesWith(g.m_GridPen.Handle()))
        vertical += s.x1 == s.x2;
    EXPECT_EQ(vertical, 395) << "columns 394 to 0";
    EXPECT_EQ(RecordedGraph::s_nGridOffset, 0);

    /* The widest spacings that are taken draw one line and scroll within
     * int: the step's (12 steps apart), then the grid unit's. */
    ASSERT_EQ(g.SetUnit(11184810), S_OK);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    for (int unit : { 0, 33554431 }) {
        if (unit) {
            ASSERT_EQ(g.SetGridUnit(unit, 25), S_OK);
        }
        for (int n = 0; n < 3; ++n) {
            ASSERT_EQ(DrawLater(g), S_OK);
            vertical = 0;
            for (const Stroke& s : StrokesWith(g.m_GridPen.Handle()))
                vertical += s.x1 == s.x2;
            EXPECT_LE(vertical, 1);
            EXPECT_GE(RecordedGraph::s_nGridOffset, 0);
            EXPECT_LT(RecordedGraph::s_nGridOffset, static_cast<double>(g.m_fGridX));
        }
    }
}

TEST_F(GraphPlot, AOnePixelHighRectangleHasNoLabelsAndItsSamplesOnRowZero)
{
    Recording().windows[kGraphWindow] = RECT{ 0, 0, 400, 21 };
    RecordedGraph g(1, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    EXPECT_EQ(g.m_Rect.bottom, 1);
    EXPECT_EQ(g.m_fScaleY, 0.0f);
    EXPECT_EQ(g.m_fGridY, 0.0f);
    for (int v : { 0, 50, 100 })
        g.Add(&v);
    ASSERT_EQ(DrawLater(g), S_OK);
    EXPECT_TRUE(Recording().Of("TextOutA").empty());
    for (const Stroke& s : StrokesWith(g.m_Pens[0].Handle()))
        EXPECT_EQ(s.y2, 0);
    for (const Stroke& s : StrokesWith(g.m_GridPen.Handle()))
        EXPECT_EQ(s.x1, s.x2) << "only vertical grid lines";
}

TEST_F(GraphPlot, SamplesFromAWiderRangeStayWithinDrawableCoordinates)
{
    RecordedGraph g(1, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    ASSERT_EQ(g.SetUnit(1), S_OK);   /* Attach leaves the bound at 1 */
    ASSERT_EQ(g.SetRange(-1000000000, 1000000000), S_OK);
    for (int v : { 1000000000, -1000000000 })
        g.Add(&v);
    ASSERT_EQ(g.SetRange(0, 1), S_OK);
    ASSERT_EQ(DrawLater(g), S_OK);
    std::vector<Stroke> line = StrokesWith(g.m_Pens[0].Handle());
    ASSERT_EQ(line.size(), 2u);
    EXPECT_EQ(line[0].y2, 0x7FFFFFF) << "-1e9 lies far below the range 0 to 1";
    EXPECT_EQ(line[1].y2, -0x7FFFFFF) << "1e9 lies far above it";
}

}  // namespace
