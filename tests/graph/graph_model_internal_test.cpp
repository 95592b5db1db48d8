/* The graph's model: settings, clamping, bounded histories and copies, seen
 * in what the graph keeps, makes at Attach and draws. */
#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <sstream>

#include "support/guarded_buffer.h"
#include "support/recording_surface.h"
#include "support/vtable_slot.h"
#include "tools/runtime.h"

using tktest::Columns;
using tktest::DrawLater;
using tktest::RecordedGraph;
using tktest::Recording;
using tktest::Rows;
using tktest::StrokesIn;
using tktest::kGraphWindow;
using tktest::kGreen;

namespace {

typedef std::vector<std::vector<long>> PenList;

class GraphModel : public ::testing::Test {
protected:
    void SetUp() override { Recording().windows[kGraphWindow] = RECT{ 0, 0, 400, 300 }; }

    tktest::RecordingScope recording_;

    /* The style, width and colour of each pen made since the calls were
     * last cleared. */
    static PenList Pens()
    {
        PenList pens;
        for (const tktest::Call& c : Recording().Of("CreatePen"))
            pens.push_back(c.args);
        return pens;
    }

    /* The spacing of the grid's vertical lines in the last drawing. */
    static int ColumnSpacing()
    {
        std::vector<int> columns = Columns();
        return columns.size() < 2 ? 0 : columns[0] - columns[1];
    }
};

using tktest::Slot;

TEST_F(GraphModel, VirtualOperationsKeepTheirSlots)
{
    /* Slots 0 and 1 are the destructor's two entries. */
    EXPECT_EQ(Slot(&CGraph::Attach), 2);
    EXPECT_EQ(Slot(&CGraph::Add), 3);
    EXPECT_EQ(Slot(&CGraph::Draw), 4);
    EXPECT_EQ(Slot(&CGraph::DrawGrid), 5);
    EXPECT_EQ(Slot(&CGraph::Resize), 6);
    EXPECT_EQ(Slot(&CGraph::SetUnit), 7);
    EXPECT_EQ(Slot(&CGraph::SetGridUnit), 8);
    EXPECT_EQ(Slot(&CGraph::SetRange), 9);
    EXPECT_EQ(Slot(&CGraph::SetBkColor), 10);
    EXPECT_EQ(Slot(&CGraph::SetLineColor), 11);
    EXPECT_EQ(Slot(&CGraph::SetGridColor), 12);
}

/* Step 1, widths 1, black background, grid colour 0x408000, lines green,
 * yellow, red and white, one sample per line until measured, and drawing
 * not suspended. */
TEST_F(GraphModel, ANewGraphMakesAndDrawsWithTheDocumentedSettings)
{
    RecordedGraph g(4);
    EXPECT_TRUE(Recording().calls.empty()) << "construction touches no platform";
    for (int n = 0; n < 3; ++n) {
        int samples[4] = { n, 10 + n, 100, 0 };
        EXPECT_EQ(g.Add(samples), S_OK);
    }
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    EXPECT_EQ(Pens(), (PenList{ { PS_SOLID, 1, 0x408000 }, { PS_SOLID, 1, 0x00FF00 }, { PS_SOLID, 1, 0x00FFFF },
                                { PS_SOLID, 1, 0x0000FF }, { PS_SOLID, 1, 0xFFFFFF } }));
    EXPECT_EQ(Recording().Of("CreateSolidBrush")[0].args, std::vector<long>{ 0 });
    ASSERT_EQ(DrawLater(g), S_OK);
    EXPECT_EQ(ColumnSpacing(), 12) << "12 steps of 1 pixel";
    /* The newest sample only, at 2.99 pixels a value unit below 100. */
    EXPECT_EQ(StrokesIn(kGreen), (std::vector<tktest::Stroke>{ { 399, 293, 399, 293, kGreen } }));
}

/* Each of the graph's lines, and no more (0 to 4 of them, whatever count is
 * asked), takes its entry clamped into the range and written back. */
TEST_F(GraphModel, AddClampsEachLinesEntryIntoTheRangeAndWritesItBack)
{
    const struct { int asked, lines; } cases[] = { { -3, 0 }, { 0, 0 }, { 2, 2 }, { 9, 4 } };
    for (const auto& c : cases) {
        Recording().calls.clear();
        RecordedGraph g(c.asked);
        int samples[5] = { 150, -7, 101, -1, 500 };
        const int given[5] = { 150, -7, 101, -1, 500 }, clamped[4] = { 100, 0, 100, 0 };
        EXPECT_EQ(g.Add(samples), S_OK);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(samples[i], i < c.lines ? clamped[i] : given[i]) << c.asked << " lines, entry " << i;
            if (i < c.lines) {
                EXPECT_EQ(g.Samples(i), std::vector<int>{ clamped[i] });
            }
        }
        ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
        EXPECT_EQ(Pens().size(), 1u + c.lines) << c.asked << " lines: a grid pen and one per line";
    }

    RecordedGraph g(2);
    int limits[2] = { 100, 0 };
    EXPECT_EQ(g.Add(limits), S_OK);
    EXPECT_EQ(limits[0], 100);
    EXPECT_EQ(limits[1], 0);
    ASSERT_EQ(g.SetRange(-50, 50), S_OK);
    int negative[2] = { -51, -50 };
    g.Add(negative);
    EXPECT_EQ(negative[0], -50);
    EXPECT_EQ(negative[1], -50);
    EXPECT_EQ(g.Add(nullptr), E_POINTER);
    EXPECT_EQ(g.Samples(0), std::vector<int>{ -50 });
}

TEST_F(GraphModel, HistoriesKeepTheBoundNewestFirst)
{
    RecordedGraph g(1);
    /* A graph not yet attached takes sizes from Resize, and paints nothing:
     * width 3, step 1. */
    ASSERT_EQ(g.Resize(SIZE_RESTORED, 3, 100), S_OK);
    EXPECT_TRUE(Recording().calls.empty());
    for (int v : { 1, 2, 3, 4 })
        g.Add(&v);
    EXPECT_EQ(g.Samples(0), (std::vector<int>{ 4, 3, 2 }));

    ASSERT_EQ(g.Resize(SIZE_RESTORED, 5, 100), S_OK);
    for (int v : { 5, 6, 7 })
        g.Add(&v);
    EXPECT_EQ(g.Samples(0), (std::vector<int>{ 7, 6, 5, 4, 3 }));
    ASSERT_EQ(g.Resize(SIZE_RESTORED, 2, 100), S_OK);
    EXPECT_EQ(g.Samples(0).size(), 5u) << "a lowered bound waits for the next Add";
    int v = 9;
    g.Add(&v);
    EXPECT_EQ(g.Samples(0), (std::vector<int>{ 9, 7 }));

    ASSERT_EQ(g.SetUnit(3), S_OK);   /* 2 pixels wide, step 3: bound 0 */
    for (int w : { 10, 11, 12 })
        g.Add(&w);
    EXPECT_EQ(g.Samples(0), std::vector<int>{ 12 });
}

TEST_F(GraphModel, AFullHistoryTakesSamplesWithoutAllocating)
{
    std::unique_ptr<RecordedGraph> graph(new RecordedGraph(4));
    RecordedGraph& g = *graph;
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    ASSERT_EQ(g.SetUnit(1), S_OK);
    for (int n = 0; n < 400; ++n) {
        int samples[4] = { n % 101, 1, 2, 3 };
        g.Add(samples);
    }
    int allocations = Recording().allocations;
    for (int n = 0; n < 1000; ++n) {
        int samples[4] = { n % 101, 1, 2, 3 };
        ASSERT_EQ(g.Add(samples), S_OK);
    }
    EXPECT_EQ(Recording().allocations, allocations);
    std::vector<int> line = g.Samples(0);
    ASSERT_EQ(line.size(), 400u);
    EXPECT_EQ(line[0], 999 % 101);
    EXPECT_EQ(line[399], 600 % 101);

    /* A wider rectangle raises the bound past every ring's room: each
     * line grows again and keeps its older samples. */
    ASSERT_EQ(g.Resize(SIZE_RESTORED, 1000, 300), S_OK);
    for (int n = 0; n < 700; ++n) {
        int samples[4] = { 7, n % 101, 2, 3 };
        ASSERT_EQ(g.Add(samples), S_OK);
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(g.Samples(i).size(), 1000u) << "line " << i;
    EXPECT_EQ(g.Samples(1)[0], 699 % 101);
    EXPECT_EQ(g.Samples(0)[999], (999 - 299) % 101) << "older samples kept across the growth";
    graph.reset();
    EXPECT_EQ(Recording().frees, Recording().allocations) << "every ring, old and grown, is freed";
}

TEST_F(GraphModel, AHistoryThatCannotGrowChangesNothing)
{
    RecordedGraph g(2);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    ASSERT_EQ(g.SetUnit(1), S_OK);
    /* Fill the rings exactly, so the next Add must grow them. */
    while (g.Samples(0).size() < 16) {
        int more[2] = { 3, 4 };
        g.Add(more);
    }
    std::vector<int> before0 = g.Samples(0), before1 = g.Samples(1);
    Recording().failAllocation = true;
    int samples[2] = { 500, -500 };
    EXPECT_EQ(g.Add(samples), E_OUTOFMEMORY);
    EXPECT_EQ(g.Samples(0), before0);
    EXPECT_EQ(g.Samples(1), before1);
    EXPECT_EQ(samples[0], 500) << "the caller's array is left alone too";
    Recording().failAllocation = false;
    EXPECT_EQ(g.Add(samples), S_OK);
    EXPECT_EQ(g.Samples(0).front(), 100);
    EXPECT_EQ(g.Samples(0).size(), 17u);

    /* The first line grows, the second cannot: the rings now differ in
     * size, and Adds under a lower bound, which need no growth, must still
     * clamp, and wrap each ring at its own end. */
    while (g.Samples(0).size() < 32) {
        int more[2] = { 3, 4 };
        g.Add(more);
    }
    before0 = g.Samples(0);
    before1 = g.Samples(1);
    Recording().allocationsBeforeFailing = 1;
    EXPECT_EQ(g.Add(samples), E_OUTOFMEMORY);
    EXPECT_EQ(g.Samples(0), before0);
    EXPECT_EQ(g.Samples(1), before1);
    Recording().allocationsBeforeFailing = -1;
    ASSERT_EQ(g.Resize(SIZE_RESTORED, 20, 300), S_OK);
    const int allocations = Recording().allocations;
    std::vector<int> expected0, expected1;
    for (int n = 0; n < 40; ++n) {
        int more[2] = { 3 * n, 90 - 3 * n };
        ASSERT_EQ(g.Add(more), S_OK);
        if (n >= 20) {
            expected0.insert(expected0.begin(), std::min(3 * n, 100));
            expected1.insert(expected1.begin(), std::max(90 - 3 * n, 0));
        }
    }
    EXPECT_EQ(Recording().allocations, allocations);
    EXPECT_EQ(g.Samples(0), expected0);
    EXPECT_EQ(g.Samples(1), expected1);
}

/* What each setter stores shows in what the graph keeps, makes at Attach and
 * draws; a refused argument changes none of it. */
TEST_F(GraphModel, SettersRefuseBadArgumentsAndChangeNothing)
{
    RecordedGraph g(2);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    ASSERT_EQ(g.SetUnit(1), S_OK);
    /* Arrays of the graph's two entries before an inaccessible page: a read
     * of a third faults. */
    tktest::FencedBuffer colorRoom(2 * sizeof(unsigned long)), widthRoom(2 * sizeof(int));
    unsigned long* colors = reinterpret_cast<unsigned long*>(colorRoom.Data());
    int* widths = reinterpret_cast<int*>(widthRoom.Data());
    ASSERT_TRUE(colors && widths);
    colors[0] = 0x111111;
    colors[1] = 0x222222;
    widths[0] = 3;
    widths[1] = 4;

    EXPECT_EQ(g.SetRange(10, 10), E_INVALIDARG);
    EXPECT_EQ(g.SetRange(5, 3), E_INVALIDARG);
    /* 12 steps beyond 11,184,810 pixels would leave 27-bit coordinates. */
    for (int unit : { 0, -2, 11184811, INT_MAX })
        EXPECT_EQ(g.SetUnit(unit), E_INVALIDARG) << unit;
    EXPECT_EQ(g.SetLineColor(nullptr, widths), E_POINTER);
    EXPECT_EQ(g.SetLineColor(colors, nullptr), E_POINTER);
    /* Still range 0 to 100, step 1 (a bound of 400) and the first pens. */
    for (int n = 0; n < 450; ++n) {
        int samples[2] = { 101, -1 };
        g.Add(samples);
        ASSERT_EQ(samples[0], 100);
        ASSERT_EQ(samples[1], 0);
    }
    EXPECT_EQ(g.Samples(0).size(), 400u);
    Recording().calls.clear();
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    EXPECT_EQ(Pens(), (PenList{ { PS_SOLID, 1, 0x408000 }, { PS_SOLID, 1, 0x00FF00 }, { PS_SOLID, 1, 0x00FFFF } }));
    ASSERT_EQ(DrawLater(g), S_OK);
    EXPECT_EQ(ColumnSpacing(), 12) << "Attach's spacing of 12 steps";

    EXPECT_EQ(g.SetUnit(3), S_OK);
    for (int n = 0; n < 150; ++n) {
        int samples[2] = { 1, 2 };
        g.Add(samples);
    }
    EXPECT_EQ(g.Samples(0).size(), 133u) << "400 pixels at a step of 3";
    EXPECT_EQ(g.SetLineColor(colors, widths), S_OK);
    EXPECT_EQ(g.SetGridColor(0x123456, 2), S_OK);
    EXPECT_EQ(g.SetBkColor(0x654321), S_OK);
    Recording().calls.clear();
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    EXPECT_EQ(Pens(), (PenList{ { PS_SOLID, 2, 0x123456 }, { PS_SOLID, 3, 0x111111 }, { PS_SOLID, 4, 0x222222 } }));
    EXPECT_EQ(Recording().Of("CreateSolidBrush")[0].args, std::vector<long>{ 0x654321 });

    /* The widest range does not overflow its difference: 2^32 - 1 units on
     * 299 rows put INT_MAX on row 0, 0 halfway and INT_MIN at the bottom. */
    EXPECT_EQ(g.SetRange(INT_MIN, INT_MAX), S_OK);
    for (int v : { INT_MIN, 0, INT_MAX })
        g.Add(&v);
    ASSERT_EQ(DrawLater(g), S_OK);
    std::vector<tktest::Stroke> line = StrokesIn(0x111111);
    ASSERT_GE(line.size(), 3u);
    EXPECT_EQ(std::vector<int>({ line[0].y2, line[1].y2, line[2].y2 }), (std::vector<int>{ 0, 149, 298 }));
    auto labels = Recording().Of("TextOutA");
    ASSERT_FALSE(labels.empty());
    EXPECT_EQ(labels.back().text, "4294967296");
    EXPECT_EQ(labels.back().args[5], 0x123456) << "in the grid colour";
}

TEST_F(GraphModel, GridUnitSetsBothSpacingsFromTheRectangle)
{
    Recording().windows[kGraphWindow] = RECT{ 0, 0, 400, 301 };
    RecordedGraph g(1);
    ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    EXPECT_EQ(g.SetGridUnit(5, 50), S_OK);
    EXPECT_EQ(g.SetGridUnit(33554432, 10), E_INVALIDARG) << "4 units would leave 27-bit coordinates";
    EXPECT_EQ(g.SetGridUnit(INT_MAX, 10), E_INVALIDARG);
    /* 300 rows below the top one: a horizontal line every 150 pixels; a
     * vertical one every 20, until a later Attach gives the vertical spacing
     * back to the step. */
    g.SetUnit(2);
    for (int spacing : { 20, 24 }) {
        ASSERT_EQ(DrawLater(g), S_OK);
        EXPECT_EQ(ColumnSpacing(), spacing);
        EXPECT_EQ(Rows(), (std::vector<int>{ 300, 150, 0 }));
        ASSERT_EQ(g.Attach(kGraphWindow), S_OK);
    }
}

/* A copy takes settings, rectangle, factors, times and window handles: a
 * derived class reads the same state in the copy as in its source. */
class CopiedGraph : public RecordedGraph {
public:
    using RecordedGraph::RecordedGraph;

    std::string State() const
    {
        std::ostringstream out;
        out << m_hWnd << " " << m_hWndBelow << " " << m_Rect.left << " " << m_Rect.top << " " << m_Rect.right << " "
            << m_Rect.bottom << " " << m_nLines << " " << m_nMaxSamples << " " << m_nUnit << " " << m_nMin << " "
            << m_nMax << " " << m_nGridPercent << " " << m_nGridWidth << " " << m_fScaleY << " " << m_fGridX << " "
            << m_fGridY << " " << m_dwLastDraw << " " << m_bSuspended << " " << m_GridColor << " " << m_BkColor;
        for (int i = 0; i < 4; ++i)
            out << " " << m_Widths[i] << " " << m_Colors[i];
        return out.str();
    }
    /* Before any Attach there is no rectangle to scale to. */
    float Scale() const { return m_fScaleY; }
};

TEST_F(GraphModel, CopiesTakeTheStateAndHoldTheirOwnSamples)
{
    CopiedGraph source(2, tktest::kBelowWindow);
    EXPECT_EQ(source.Scale(), 1.0f);
    Recording().windows[tktest::kBelowWindow] = RECT{ 0, 0, 400, 20 };
    Recording().now = 7000;
    unsigned long colors[2] = { 0x111111, 0x222222 };
    int widths[2] = { 3, 4 };
    source.SetLineColor(colors, widths);
    source.SetGridColor(0x123456, 2);
    source.SetBkColor(0x654321);
    ASSERT_EQ(source.Attach(kGraphWindow), S_OK);
    source.SetRange(-10, 10);
    source.SetUnit(2);
    source.SetGridUnit(5, 40);
    source.Resize(SIZE_MINIMIZED, 0, 0);
    for (int n = 0; n < 5; ++n) {
        int samples[2] = { n, -n };
        source.Add(samples);
    }

    CopiedGraph copy(source);
    EXPECT_EQ(copy.State(), source.State());
    EXPECT_EQ(copy.Samples(0), (std::vector<int>{ 4, 3, 2, 1, 0 }));
    EXPECT_EQ(copy.Samples(1), (std::vector<int>{ -4, -3, -2, -1, 0 }));
    int more[2] = { 9, 9 };
    copy.Add(more);
    EXPECT_EQ(source.Samples(0), (std::vector<int>{ 4, 3, 2, 1, 0 }));
    EXPECT_EQ(copy.Samples(0).front(), 9);

    CopiedGraph assigned(1);
    assigned = copy;
    EXPECT_EQ(assigned.State(), copy.State());
    EXPECT_EQ(assigned.Samples(1), (std::vector<int>{ 9, -4, -3, -2, -1, 0 }));
    source.Add(more);
    EXPECT_EQ(assigned.Samples(0).size(), 6u);

    /* Assigned to itself, an attached graph stays attached, with its
     * samples. */
    RecordedGraph self(1);
    ASSERT_EQ(self.Attach(kGraphWindow), S_OK);
    int v = 42;
    self.Add(&v);
    self = static_cast<RecordedGraph&>(self);
    EXPECT_EQ(self.Samples(0), std::vector<int>{ 42 });
    EXPECT_EQ(DrawLater(self), S_OK);
}

TEST_F(GraphModel, ACopyThatCannotBeMadeThrowsAndAnAssignmentKeepsItsTarget)
{
    RecordedGraph source(1);
    int v = 42;
    source.Add(&v);
    RecordedGraph target(1);
    ASSERT_EQ(target.Attach(kGraphWindow), S_OK);
    int w = 7;
    target.Add(&w);

    Recording().failAllocation = true;
    int thrown = 0;
    try {
        RecordedGraph copy(source);
    } catch (CMemoryException* e) {
        ++thrown;
        EXPECT_EQ(static_cast<long>(*e), static_cast<long>(E_OUTOFMEMORY));
        e->Delete();
    }
    try {
        target = source;
    } catch (CMemoryException* e) {
        ++thrown;
        e->Delete();
    }
    EXPECT_EQ(thrown, 2);
    Recording().failAllocation = false;
    EXPECT_EQ(target.Samples(0), std::vector<int>{ 7 });
    EXPECT_EQ(DrawLater(target), S_OK) << "still attached";
    EXPECT_EQ(StrokesIn(kGreen).size(), 1u);
}

}  // namespace
