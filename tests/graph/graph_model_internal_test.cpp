/* The graph's model: settings, clamping, bounded histories and copies. */
#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include "support/recording_surface.h"
#include "tools/runtime.h"

using tktest::RecordedGraph;
using tktest::Recording;

namespace {

class GraphModel : public ::testing::Test {
protected:
    void SetUp() override
    {
        tktest::Fresh();
        Recording().windows[tktest::kGraphWindow] = RECT{ 0, 0, 400, 300 };
    }
};

/* The slot of a virtual function: in this ABI a pointer to one holds one
 * more than its offset in the table. */
template <typename F>
int Slot(F f)
{
    struct { ptrdiff_t ptr, adjust; } raw;
    static_assert(sizeof raw == sizeof f, "a pointer to member is two words");
    memcpy(&raw, &f, sizeof raw);
    return static_cast<int>((raw.ptr - 1) / static_cast<ptrdiff_t>(sizeof(void*)));
}

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

TEST_F(GraphModel, StartsWithTheDocumentedSettingsAndKeepsOneSampleUntilMeasured)
{
    RecordedGraph g(2);
    EXPECT_EQ(g.m_nLines, 2);
    EXPECT_EQ(g.m_hWnd, nullptr);
    EXPECT_EQ(g.m_hWndBelow, nullptr);
    EXPECT_EQ(g.m_nMaxSamples, 1u);
    EXPECT_EQ(g.m_nUnit, 1);
    EXPECT_EQ(g.m_nMin, 0);
    EXPECT_EQ(g.m_nMax, 100);
    EXPECT_EQ(g.m_nGridPercent, 25);
    EXPECT_EQ(g.m_nGridWidth, 1);
    EXPECT_EQ(g.m_fScaleY, 1.0f);
    EXPECT_FALSE(g.m_bSuspended);
    EXPECT_EQ(g.m_GridColor, 0x408000u);
    EXPECT_EQ(g.m_BkColor, 0u);
    const COLORREF colors[4] = { 0x00FF00, 0x00FFFF, 0x0000FF, 0xFFFFFF };
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(g.m_Widths[i], 1);
        EXPECT_EQ(g.m_Colors[i], colors[i]);
        EXPECT_EQ(g.m_History[i].Count(), 0u);
        EXPECT_EQ(g.m_Pens[i].Handle(), nullptr);
    }
    EXPECT_TRUE(Recording().calls.empty()) << "construction touches no platform";

    for (int n = 0; n < 3; ++n) {
        int samples[2] = { n, 10 + n };
        EXPECT_EQ(g.Add(samples), S_OK);
    }
    EXPECT_EQ(g.Samples(0), std::vector<int>{ 2 });
    EXPECT_EQ(g.Samples(1), std::vector<int>{ 12 });
}

TEST_F(GraphModel, LineCountsOutsideZeroToFourAreLimited)
{
    RecordedGraph none(-3);
    EXPECT_EQ(none.m_nLines, 0);
    int untouched[1] = { 500 };
    EXPECT_EQ(none.Add(untouched), S_OK);
    EXPECT_EQ(untouched[0], 500);

    RecordedGraph many(9);
    EXPECT_EQ(many.m_nLines, 4);
    int samples[5] = { 1, 2, 3, 4, 500 };
    EXPECT_EQ(many.Add(samples), S_OK);
    EXPECT_EQ(samples[4], 500) << "a fifth entry is not read or written";
    EXPECT_EQ(many.Samples(3), std::vector<int>{ 4 });
    ASSERT_EQ(many.Attach(tktest::kGraphWindow), S_OK);
    EXPECT_EQ(Recording().Of("CreatePen").size(), 5u) << "grid pen and four line pens";
}

TEST_F(GraphModel, AddClampsIntoTheRangeAndWritesTheClampBack)
{
    RecordedGraph g(2);
    int samples[4] = { 150, -7, 1234, 5678 };
    EXPECT_EQ(g.Add(samples), S_OK);
    EXPECT_EQ(samples[0], 100);
    EXPECT_EQ(samples[1], 0);
    EXPECT_EQ(samples[2], 1234) << "a graph of two lines touches two entries";
    EXPECT_EQ(samples[3], 5678);
    EXPECT_EQ(g.Samples(0), std::vector<int>{ 100 });
    EXPECT_EQ(g.Samples(1), std::vector<int>{ 0 });

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
    /* A graph not yet attached takes sizes from Resize: width 3, step 1. */
    ASSERT_EQ(g.Resize(SIZE_RESTORED, 3, 100), S_OK);
    ASSERT_EQ(g.m_nMaxSamples, 3u);
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
    ASSERT_EQ(g.m_nMaxSamples, 0u);
    for (int w : { 10, 11, 12 })
        g.Add(&w);
    EXPECT_EQ(g.Samples(0), std::vector<int>{ 12 });
}

TEST_F(GraphModel, AFullHistoryTakesSamplesWithoutAllocating)
{
    RecordedGraph g(4);
    ASSERT_EQ(g.Attach(tktest::kGraphWindow), S_OK);
    ASSERT_EQ(g.SetUnit(1), S_OK);
    ASSERT_EQ(g.m_nMaxSamples, 400u);
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
    EXPECT_EQ(g.m_History[0].Count(), 400u);
    EXPECT_EQ(g.m_History[0].At(0), 999 % 101);
    EXPECT_EQ(g.m_History[0].At(399), 600 % 101);

    /* A wider rectangle raises the bound past every ring's room: each
     * line grows again and keeps its older samples. */
    ASSERT_EQ(g.Resize(SIZE_RESTORED, 1000, 300), S_OK);
    ASSERT_EQ(g.m_nMaxSamples, 1000u);
    for (int n = 0; n < 700; ++n) {
        int samples[4] = { 7, n % 101, 2, 3 };
        ASSERT_EQ(g.Add(samples), S_OK);
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(g.m_History[i].Count(), 1000u) << "line " << i;
    EXPECT_EQ(g.m_History[1].At(0), 699 % 101);
    EXPECT_EQ(g.m_History[0].At(999), (999 - 299) % 101) << "older samples kept across the growth";
}

TEST_F(GraphModel, AHistoryThatCannotGrowChangesNothing)
{
    RecordedGraph g(2);
    ASSERT_EQ(g.Attach(tktest::kGraphWindow), S_OK);
    ASSERT_EQ(g.SetUnit(1), S_OK);
    int first[2] = { 1, 2 };
    g.Add(first);
    /* Fill the first ring exactly, so the next Add must grow it. */
    while (g.m_History[0].Count() < 16) {
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
     * wrap each ring at its own end. */
    while (g.m_History[0].Count() < 32) {
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
    for (int n = 0; n < 40; ++n) {
        int more[2] = { n, 100 - n };
        ASSERT_EQ(g.Add(more), S_OK);
    }
    EXPECT_EQ(Recording().allocations, allocations);
    ASSERT_EQ(g.Samples(0).size(), 20u);
    ASSERT_EQ(g.Samples(1).size(), 20u);
    for (unsigned k = 0; k < 20; ++k) {
        EXPECT_EQ(g.m_History[0].At(k), static_cast<int>(39 - k));
        EXPECT_EQ(g.m_History[1].At(k), static_cast<int>(100 - (39 - k)));
    }
}

TEST_F(GraphModel, SettersRefuseBadArgumentsAndChangeNothing)
{
    RecordedGraph g(2);
    ASSERT_EQ(g.Attach(tktest::kGraphWindow), S_OK);
    ASSERT_EQ(g.SetUnit(1), S_OK);

    EXPECT_EQ(g.SetRange(10, 10), E_INVALIDARG);
    EXPECT_EQ(g.SetRange(5, 3), E_INVALIDARG);
    EXPECT_EQ(g.m_nMin, 0);
    EXPECT_EQ(g.m_nMax, 100);
    EXPECT_EQ(g.SetRange(-50, 50), S_OK);
    EXPECT_EQ(g.m_fScaleY, 2.99f);
    /* The widest range does not overflow its difference. */
    EXPECT_EQ(g.SetRange(INT_MIN, INT_MAX), S_OK);
    EXPECT_GT(g.m_fScaleY, 0.0f);
    EXPECT_EQ(g.m_fScaleY, static_cast<float>(299.0 / 4294967295.0));

    EXPECT_EQ(g.SetUnit(0), E_INVALIDARG);
    EXPECT_EQ(g.SetUnit(-2), E_INVALIDARG);
    EXPECT_EQ(g.SetUnit(11184811), E_INVALIDARG) << "12 steps would leave 27-bit coordinates";
    EXPECT_EQ(g.SetUnit(INT_MAX), E_INVALIDARG);
    EXPECT_EQ(g.m_nUnit, 1);
    EXPECT_EQ(g.m_nMaxSamples, 400u);
    EXPECT_EQ(g.SetUnit(3), S_OK);
    EXPECT_EQ(g.m_nMaxSamples, 133u);

    unsigned long colors[2] = { 0x111111, 0x222222 };
    int widths[2] = { 3, 4 };
    EXPECT_EQ(g.SetLineColor(nullptr, widths), E_POINTER);
    EXPECT_EQ(g.SetLineColor(colors, nullptr), E_POINTER);
    EXPECT_EQ(g.m_Colors[0], 0x00FF00u);
    EXPECT_EQ(g.m_Widths[1], 1);
    EXPECT_EQ(g.SetLineColor(colors, widths), S_OK);
    EXPECT_EQ(g.m_Colors[1], 0x222222u);
    EXPECT_EQ(g.m_Widths[1], 4);
    EXPECT_EQ(g.m_Colors[2], 0x0000FFu) << "a graph of two lines stores two entries";

    EXPECT_EQ(g.SetGridColor(0x123456, 2), S_OK);
    EXPECT_EQ(g.m_GridColor, 0x123456u);
    EXPECT_EQ(g.m_nGridWidth, 2);
    EXPECT_EQ(g.SetBkColor(0x654321), S_OK);
    EXPECT_EQ(g.m_BkColor, 0x654321u);
}

TEST_F(GraphModel, GridUnitSetsBothSpacingsFromTheRectangle)
{
    Recording().windows[tktest::kGraphWindow] = RECT{ 0, 0, 400, 301 };
    RecordedGraph g(1);
    ASSERT_EQ(g.Attach(tktest::kGraphWindow), S_OK);
    EXPECT_EQ(g.SetGridUnit(3, 50), S_OK);
    EXPECT_EQ(g.m_fGridX, 12.0f);
    EXPECT_EQ(g.m_fGridY, 150.0f);
    EXPECT_EQ(g.m_nGridPercent, 50);
    EXPECT_EQ(g.SetGridUnit(33554432, 10), E_INVALIDARG) << "4 units would leave 27-bit coordinates";
    EXPECT_EQ(g.SetGridUnit(INT_MAX, 10), E_INVALIDARG);
    EXPECT_EQ(g.m_fGridX, 12.0f);
    EXPECT_EQ(g.m_nGridPercent, 50);

    /* A later Attach gives the vertical spacing back to the step. */
    g.SetUnit(2);
    ASSERT_EQ(g.Attach(tktest::kGraphWindow), S_OK);
    EXPECT_EQ(g.m_fGridX, 24.0f);
    EXPECT_EQ(g.m_fGridY, 150.0f);
}

TEST_F(GraphModel, CopiesHoldTheirOwnSamples)
{
    RecordedGraph source(2);
    ASSERT_EQ(source.Attach(tktest::kGraphWindow), S_OK);
    source.SetRange(-10, 10);
    source.SetUnit(2);
    for (int n = 0; n < 5; ++n) {
        int samples[2] = { n, -n };
        source.Add(samples);
    }

    RecordedGraph copy(source);
    EXPECT_EQ(copy.Samples(0), (std::vector<int>{ 4, 3, 2, 1, 0 }));
    EXPECT_EQ(copy.Samples(1), (std::vector<int>{ -4, -3, -2, -1, 0 }));
    EXPECT_EQ(copy.m_nMin, -10);
    EXPECT_EQ(copy.m_nUnit, 2);
    EXPECT_EQ(copy.m_nMaxSamples, 200u);
    EXPECT_EQ(copy.m_hWnd, tktest::kGraphWindow);
    EXPECT_EQ(copy.m_dwLastDraw, source.m_dwLastDraw);
    EXPECT_EQ(copy.m_fScaleY, source.m_fScaleY);
    EXPECT_EQ(memcmp(&copy.m_Rect, &source.m_Rect, sizeof(RECT)), 0);

    int more[2] = { 9, 9 };
    copy.Add(more);
    EXPECT_EQ(source.Samples(0), (std::vector<int>{ 4, 3, 2, 1, 0 }));
    EXPECT_EQ(copy.Samples(0).front(), 9);

    RecordedGraph assigned(1);
    assigned = copy;
    EXPECT_EQ(assigned.m_nLines, 2);
    EXPECT_EQ(assigned.Samples(1), (std::vector<int>{ 9, -4, -3, -2, -1, 0 }));
    source.Add(more);
    source.Add(more);
    EXPECT_EQ(assigned.Samples(0).size(), 6u);

    assigned = static_cast<RecordedGraph&>(assigned);
    EXPECT_EQ(assigned.Samples(0).size(), 6u) << "assigning a graph to itself keeps it";
}

TEST_F(GraphModel, ACopyThatCannotBeMadeThrowsAndAnAssignmentKeepsItsTarget)
{
    RecordedGraph source(1);
    int v = 42;
    source.Add(&v);
    RecordedGraph target(1);
    int w = 7;
    target.Add(&w);

    Recording().failAllocation = true;
    bool thrown = false;
    try {
        RecordedGraph copy(source);
    } catch (CMemoryException* e) {
        thrown = true;
        EXPECT_EQ(static_cast<long>(*e), static_cast<long>(E_OUTOFMEMORY));
        e->Delete();
    }
    EXPECT_TRUE(thrown);

    thrown = false;
    try {
        target = source;
    } catch (CMemoryException* e) {
        thrown = true;
        e->Delete();
    }
    EXPECT_TRUE(thrown);
    EXPECT_EQ(target.Samples(0), std::vector<int>{ 7 });
    Recording().failAllocation = false;
}

}  // namespace
