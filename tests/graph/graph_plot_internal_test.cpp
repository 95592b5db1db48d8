/* Drawing: the 500 ms rule, background, grid with labels, the scrolling
 * offset and the lines, with exact coordinates from the recording surface. */
#include <gtest/gtest.h>

#include <stdio.h>

#include "support/recording_surface.h"

using tktest::Columns;
using tktest::DrawLater;
using tktest::Kind;
using tktest::Num;
using tktest::RecordedGraph;
using tktest::Recording;
using tktest::Rows;
using tktest::Stroke;
using tktest::Strokes;
using tktest::StrokesIn;
using tktest::kBelowWindow;
using tktest::kGraphWindow;
using tktest::kGreen;
using tktest::kGrid;
using tktest::kRed;
using tktest::kYellow;

namespace {

/* The row of a value under the range 0 to 100 on a 280-pixel rectangle. */
int RowOf(int value)
{
    return static_cast<int>((100.0 - value) * static_cast<double>(2.79f));
}

/* The shared offset that the last drawing shifted the vertical grid lines
 * by, on a rectangle 400 pixels wide. */
int Offset()
{
    std::vector<int> columns = Columns();
    return columns.empty() ? -1 : 399 - columns[0];
}

class GraphPlot : public ::testing::Test {
protected:
    void SetUp() override { tktest::WithStatusBar(1000); }

    tktest::RecordingScope recording_;
};

TEST_F(GraphPlot, DrawsAtMostOnceInFiveHundredMillisecondsAndNotWhileSuspended)
{
    RecordedGraph unattached(1);
    EXPECT_EQ(unattached.Draw(), E_FAIL);
    EXPECT_TRUE(Recording().calls.empty());

    /* Counted from Attach and from each drawing, and right across the
     * clock's wrap for a graph attached 256 ms before it. */
    for (DWORD attached : { 1000u, 0xFFFFFF00u }) {
        RecordedGraph g(1, kBelowWindow);
        Recording().now = attached;
        ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
        const struct { DWORD after; HRESULT drawn; } calls[] = {
            { 16, S_FALSE }, { 499, S_FALSE }, { 500, S_OK }, { 999, S_FALSE }, { 1000, S_OK } };
        for (const auto& call : calls) {
            Recording().now = attached + call.after;
            Recording().calls.clear();
            EXPECT_EQ(g.Draw(), call.drawn) << std::hex << attached << std::dec << " + " << call.after;
            if (call.drawn == S_FALSE) {
                EXPECT_TRUE(Recording().calls.empty());
            }
        }
        g.Resize(SIZE_MINIMIZED, 0, 0);
        Recording().now += 1000000;
        Recording().calls.clear();
        EXPECT_EQ(g.Draw(), S_FALSE) << "suspended, however long since";
        EXPECT_TRUE(Recording().calls.empty());
        g.Resize(SIZE_RESTORED, 400, 300);
        EXPECT_EQ(g.Draw(), S_OK);
    }
}

TEST_F(GraphPlot, BackgroundThenGridRowsWithTheirLabelsThenEverythingPutBack)
{
    RecordedGraph g(2, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    HGDIOBJ font = Recording().Made("CreateFontA")[0];
    int samples[2] = { 50, 100 };
    g.Add(samples);
    ASSERT_EQ(DrawLater(g), S_OK);

    auto fills = Recording().Of("PatBlt");
    ASSERT_EQ(fills.size(), 1u);
    EXPECT_EQ(std::vector<long>(fills[0].args.begin() + 1, fills[0].args.begin() + 6),
              (std::vector<long>{ 0, 0, 400, 280, PATCOPY }));
    EXPECT_EQ(Recording().ColorOf(fills[0].args[6]), 0u) << "the graph's black brush";
    EXPECT_LT(Recording().IndexOf("PatBlt"), Recording().IndexOf("MoveToEx")) << "background first";

    std::vector<Stroke> rows;
    for (const Stroke& s : StrokesIn(kGrid))
        if (s.y1 == s.y2)
            rows.push_back(s);
    EXPECT_EQ(rows, (std::vector<Stroke>{ { 0, 279, 399, 279, kGrid }, { 0, 209, 399, 209, kGrid },
                                           { 0, 139, 399, 139, kGrid }, { 0, 69, 399, 69, kGrid },
                                           { 0, 0, 399, 0, kGrid } }));
    /* Each label hangs below its line, in the graph's font and the grid's
     * colour, on a transparent background. */
    auto labels = Recording().Of("TextOutA");
    const char* texts[5] = { "    0", "   25", "   50", "   75", "  100" };
    const int at[5] = { 279, 209, 139, 69, 0 };
    ASSERT_EQ(labels.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(labels[i].text, texts[i]);
        EXPECT_EQ(std::vector<long>(labels[i].args.begin() + 1, labels[i].args.end()),
                  (std::vector<long>{ 1, at[i], 5, Num(font), 0x408000, TRANSPARENT }))
            << texts[i];
    }
    /* The context goes back as the graph found it. */
    EXPECT_EQ(Recording().releasedWhileSelected, 0);
    EXPECT_EQ(Recording().Of("ReleaseDC").size(), 1u);
    EXPECT_EQ(Recording().Of("SetBkMode").back().args[1], OPAQUE);
    EXPECT_EQ(Recording().Of("SetTextColor").back().args[1], 0);
    for (auto& entry : Recording().live)
        EXPECT_NE(entry.second, Kind::WindowDC);
}

TEST_F(GraphPlot, VerticalGridLinesScrollWithTheSharedOffset)
{
    RecordedGraph g(1, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    ASSERT_EQ(DrawLater(g), S_OK);
    /* Every 12 pixels (12 steps of 1), from the right edge less the offset
     * that every graph of the process shares, and from top to bottom. */
    const int first = Offset();
    ASSERT_GE(first, 0);
    ASSERT_LT(first, 12);
    std::vector<int> expected;
    for (int x = 399 - first; x >= 0; x -= 12)
        expected.push_back(x);
    EXPECT_EQ(Columns(), expected);
    for (const Stroke& s : StrokesIn(kGrid))
        if (s.x1 == s.x2) {
            EXPECT_EQ(s.y1, 0);
            EXPECT_EQ(s.y2, 279);
        }

    /* Each drawing moves them one step left; twelve bring them back. */
    for (int n = 1; n <= 12; ++n) {
        ASSERT_EQ(DrawLater(g), S_OK);
        EXPECT_EQ(Offset(), (first + n) % 12) << "drawing " << n;
    }

    /* Two graphs share the one offset, each advancing it by its step. */
    RecordedGraph other(1, kBelowWindow);
    ASSERT_EQ(other.Attach(kGraphWindow), S_OK);
    ASSERT_EQ(other.SetUnit(2), S_OK);
    int offset = (first + 1) % 12;
    for (int cycle = 0; cycle < 2; ++cycle) {
        ASSERT_EQ(DrawLater(g), S_OK);
        EXPECT_EQ(Offset(), offset);
        offset = (offset + 1) % 12;
        ASSERT_EQ(DrawLater(other), S_OK);
        EXPECT_EQ(Offset(), offset);
        offset = (offset + 2) % 12;
    }
}

TEST_F(GraphPlot, SamplesLieOneStepApartFromTheRightEdge)
{
    RecordedGraph g(1, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    ASSERT_EQ(g.SetUnit(1), S_OK);   /* Attach leaves the bound at 1 */
    const int values[5] = { 0, 25, 50, 75, 100 };
    for (int n = 0; n < 450; ++n) {
        int v = values[n % 5];
        g.Add(&v);
    }
    /* A step of 1: the newest on column 399 and a sample on every column
     * down to 0, more points than GDI takes in one call. Then a step of 2:
     * columns 399, 397, ..., 1 show 200 of the 400 samples kept. */
    const struct { int unit; size_t drawn; } steps[] = { { 1, 400 }, { 2, 200 } };
    for (const auto& step : steps) {
        ASSERT_EQ(g.SetUnit(step.unit), S_OK);
        ASSERT_EQ(g.Samples(0).size(), 400u) << "the history is trimmed at the next Add only";
        ASSERT_EQ(DrawLater(g), S_OK);
        std::vector<Stroke> line = StrokesIn(kGreen);
        ASSERT_EQ(line.size(), step.drawn) << "step " << step.unit;
        int newest = RowOf(values[449 % 5]);
        EXPECT_EQ(line[0], (Stroke{ 399, newest, 399, newest, kGreen }));
        for (size_t k = 0; k < line.size(); ++k) {
            ASSERT_EQ(line[k].x2, static_cast<int>(399 - step.unit * k)) << "sample " << k;
            ASSERT_EQ(line[k].y2, RowOf(values[(449 - k) % 5])) << "sample " << k;
        }
    }
    EXPECT_EQ(RowOf(0), 278);
    EXPECT_EQ(RowOf(25), 209);
    EXPECT_EQ(RowOf(50), 139);
    EXPECT_EQ(RowOf(75), 69);
    EXPECT_EQ(RowOf(100), 0);
}

TEST_F(GraphPlot, LinesAreDrawnFromTheirSamplesFromTheLastToTheFirst)
{
    RecordedGraph g(3, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    ASSERT_EQ(g.SetUnit(1), S_OK);   /* Attach leaves the bound at 1 */
    ASSERT_EQ(DrawLater(g), S_OK);
    EXPECT_EQ(StrokesIn(kGrid).size(), Strokes().size()) << "an empty history draws nothing";
    int samples[3] = { 10, 20, 30 };
    g.Add(samples);
    ASSERT_EQ(DrawLater(g), S_OK);
    EXPECT_EQ(StrokesIn(kGreen), (std::vector<Stroke>{ { 399, RowOf(10), 399, RowOf(10), kGreen } }))
        << "one sample, a point";

    g.Add(samples);
    ASSERT_EQ(DrawLater(g), S_OK);
    std::vector<COLORREF> order;
    for (const Stroke& s : Strokes())
        if (s.color != kGrid && (order.empty() || order.back() != s.color))
            order.push_back(s.color);
    EXPECT_EQ(order, (std::vector<COLORREF>{ kRed, kYellow, kGreen }));
    EXPECT_EQ(StrokesIn(kYellow).back(), (Stroke{ 399, RowOf(20), 398, RowOf(20), kYellow }));
}

TEST_F(GraphPlot, SpacingsBelowOnePixelDrawNoGridOfThatDirection)
{
    RecordedGraph g(1, kBelowWindow);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    int v = 0;
    g.Add(&v);
    ASSERT_EQ(DrawLater(g), S_OK);
    const int offset = (Offset() + 1) % 12;
    for (auto grid : { std::make_pair(0, 0), std::make_pair(-3, -25) }) {
        ASSERT_EQ(g.SetGridUnit(grid.first, grid.second), S_OK);
        ASSERT_EQ(DrawLater(g), S_OK);
        EXPECT_TRUE(StrokesIn(kGrid).empty());
        EXPECT_TRUE(Recording().Of("TextOutA").empty());
        EXPECT_EQ(StrokesIn(kGreen).size(), 1u) << "the lines are still drawn";
    }

    /* No vertical lines, no scrolling: the next lines, 4 pixels apart, take
     * the offset where the last drawing with lines left it. */
    ASSERT_EQ(g.SetGridUnit(1, 25), S_OK);
    ASSERT_EQ(DrawLater(g), S_OK);
    EXPECT_EQ(Offset(), offset);
    EXPECT_EQ(Columns().size(), static_cast<size_t>((399 - offset) / 4 + 1));
    ASSERT_EQ(DrawLater(g), S_OK);
    EXPECT_EQ(Offset(), (offset + 1) % 4);

    /* Half a pixel apart, on a rectangle two pixels high at 50 percent,
     * and none on one pixel high, whose scale of 0 puts every value on row
     * 0. */
    for (LONG height : { 22, 21 }) {
        Recording().windows[kGraphWindow] = RECT{ 0, 0, 400, height };
        ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
        ASSERT_EQ(g.SetGridUnit(1, 50), S_OK);
        ASSERT_EQ(DrawLater(g), S_OK);
        EXPECT_TRUE(Rows().empty()) << height;
        EXPECT_TRUE(Recording().Of("TextOutA").empty()) << height;
        EXPECT_FALSE(StrokesIn(kGrid).empty()) << height;
        for (const Stroke& s : StrokesIn(kGrid))
            EXPECT_EQ(s.x1, s.x2) << height << ": only vertical grid lines";
        EXPECT_EQ(StrokesIn(kGreen), (std::vector<Stroke>{ { 399, 0, 399, 0, kGreen } })) << height;
    }

    /* The widest spacings that are taken draw one line at most, within the
     * rectangle, and scroll within int: the step's (12 steps apart), then
     * the grid unit's. */
    Recording().windows[kGraphWindow] = RECT{ 0, 0, 400, 300 };
    ASSERT_EQ(g.SetUnit(11184810), S_OK);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    for (int unit : { 0, 33554431 }) {
        if (unit) {
            ASSERT_EQ(g.SetGridUnit(unit, 25), S_OK);
        }
        for (int n = 0; n < 3; ++n) {
            ASSERT_EQ(DrawLater(g), S_OK);
            std::vector<int> columns = Columns();
            EXPECT_LE(columns.size(), 1u);
            for (int x : columns) {
                EXPECT_GE(x, 0);
                EXPECT_LE(x, 399);
            }
        }
    }
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
    std::vector<Stroke> line = StrokesIn(kGreen);
    ASSERT_EQ(line.size(), 2u);
    EXPECT_EQ(line[0].y2, 0x7FFFFFF) << "-1e9 lies far below the range 0 to 1";
    EXPECT_EQ(line[1].y2, -0x7FFFFFF) << "1e9 lies far above it";
}

/* A grid of its own reads the state that the header offers a derived
 * class: here it notes what it read and lets the graph's own grid draw,
 * which must agree with it; or it paints a text of its own and fails. */
class OwnGrid : public RecordedGraph {
public:
    OwnGrid() : RecordedGraph(2, kBelowWindow) {}

    HRESULT DrawGrid(CClientDC& dc) override
    {
        context = dc.Handle();
        rect = m_Rect;
        offset = s_nGridOffset;
        unit = m_nUnit;
        gridX = m_fGridX;
        gridY = m_fGridY;
        scale = m_fScaleY;
        max = m_nMax;
        range = m_nMax - m_nMin;
        pen = m_GridPen.Handle();
        font = m_Font.Handle();
        color = m_GridColor;
        if (SUCCEEDED(result))
            return CGraph::DrawGrid(dc);
        tktest::kRecordingSurface.textOutA(dc, 7, 8, "own", 3);
        return result;
    }

    HRESULT result = S_OK;
    HDC context = nullptr;
    RECT rect = {};
    int offset = 0, unit = 0, max = 0, range = 0;
    float gridX = 0, gridY = 0, scale = 0;
    HGDIOBJ pen = nullptr, font = nullptr;
    COLORREF color = 0;
};

TEST_F(GraphPlot, ADerivedGridReadsTheStateTheGraphDrawsFrom)
{
    OwnGrid g;
    ASSERT_EQ(g.SetGridColor(0x123456, 1), S_OK);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    ASSERT_EQ(g.SetUnit(3), S_OK);
    ASSERT_EQ(g.SetRange(-20, 60), S_OK);
    int samples[2] = { 10, 20 };
    g.Add(samples);
    ASSERT_EQ(DrawLater(g), S_OK);

    /* The context of the drawing and the rectangle it fills. */
    auto fill = Recording().Of("PatBlt")[0].args;
    EXPECT_EQ(fill[0], Num(g.context));
    EXPECT_EQ((std::vector<long>{ g.rect.left, g.rect.top, g.rect.right, g.rect.bottom }),
              (std::vector<long>{ 0, 0, fill[3], fill[4] }));
    /* The grid's places, scale, pen, font and colour. */
    std::vector<int> columns = Columns(0x123456), rows = Rows(0x123456);
    ASSERT_GE(columns.size(), 2u);
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(columns[0], g.rect.right - 1 - g.offset);
    EXPECT_EQ(columns[0] - columns[1], static_cast<int>(g.gridX));
    EXPECT_EQ(rows[0], g.rect.bottom - 1);
    EXPECT_EQ(rows[1], static_cast<int>(g.rect.bottom - 1 - g.gridY));
    ASSERT_FALSE(StrokesIn(kGreen).empty());
    EXPECT_EQ(StrokesIn(kGreen)[0].y2, static_cast<int>((g.max - 10) * static_cast<double>(g.scale)));
    char top[32];
    snprintf(top, sizeof top, "%5d", g.range);
    auto labels = Recording().Of("TextOutA");
    ASSERT_FALSE(labels.empty());
    EXPECT_EQ(labels.back().text, top) << "the top row lies the range above the bottom one";
    EXPECT_EQ(Recording().Of("LineTo")[0].args[3], Num(g.pen)) << "the grid comes first";
    EXPECT_EQ(labels[0].args[4], Num(g.font));
    EXPECT_EQ(static_cast<COLORREF>(labels[0].args[5]), g.color);
    /* The offset that the next drawing reads moved on by the step. */
    ASSERT_EQ(DrawLater(g), S_OK);
    EXPECT_EQ(g.offset, (399 - columns[0] + g.unit) % static_cast<int>(g.gridX));

    /* A grid that fails ends the drawing after the background and what it
     * painted itself; the drawing counts for the interval all the same. */
    g.result = E_NOTIMPL;
    ASSERT_EQ(DrawLater(g), E_NOTIMPL);
    EXPECT_EQ(Recording().Of("PatBlt").size(), 1u);
    EXPECT_EQ(Recording().Of("PatBlt")[0].args[0], Num(g.context));
    labels = Recording().Of("TextOutA");
    ASSERT_EQ(labels.size(), 1u);
    EXPECT_EQ(labels[0].text, "own");
    EXPECT_TRUE(Recording().Of("LineTo").empty()) << "no line after a failed grid";
    EXPECT_EQ(Recording().Of("ReleaseDC").size(), 1u);
    EXPECT_EQ(Recording().releasedWhileSelected, 0);
    Recording().now += 499;
    EXPECT_EQ(g.Draw(), S_FALSE);
}

}  // namespace
