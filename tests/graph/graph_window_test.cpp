/* The graph in a real window under GDI, used through tools.dll as a host
 * uses it: the pixels it paints, and the drawing objects it releases. */
#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <vector>

#include "tools/graph.h"
#include "tools/runtime.h"

namespace {

const COLORREF kBackground = RGB(0, 0, 0);
const COLORREF kGrid = 0x408000;
const COLORREF kGreen = 0x00FF00;
const COLORREF kYellow = 0x00FFFF;
const COLORREF kMark = RGB(255, 0, 255);

/* A graph with a grid of its own (the graph's grid and a small square of its
 * own) that hands out the drawing objects it holds, as a derived class may
 * read them. */
class WindowGraph : public CGraph {
public:
    WindowGraph(int lines, HWND below) : CGraph(lines, below) {}

    HRESULT DrawGrid(CClientDC& dc) override
    {
        HRESULT hr = CGraph::DrawGrid(dc);
        RECT mark = { 200, 240, 205, 245 };
        HBRUSH brush = CreateSolidBrush(kMark);
        FillRect(dc, &mark, brush);
        DeleteObject(brush);
        return hr;
    }

    std::vector<HGDIOBJ> Objects() const
    {
        return { m_Pens[0].Handle(), m_Pens[1].Handle(), m_Pens[2].Handle(), m_Pens[3].Handle(),
                 m_GridPen.Handle(), m_BkBrush.Handle(), m_Bitmap.Handle(), m_Font.Handle() };
    }
};

class GraphWindow : public ::testing::Test {
protected:
    /* One set of windows for all tests, left for the process's end to take
     * away: under Wine on an X server without a window manager, each
     * DestroyWindow of a top-level window takes 2 s. */
    static void SetUpTestSuite()
    {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "GraphWindowTest";
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
        RegisterClassA(&wc);
        HWND parent = CreateWindowA("GraphWindowTest", "graph", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 600, 500,
                                    nullptr, nullptr, wc.hInstance, nullptr);
        chart_ = CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE | SS_BITMAP, 0, 0, 400, 300, parent, nullptr,
                               wc.hInstance, nullptr);
        below_ = CreateWindowA("STATIC", "status", WS_CHILD | WS_VISIBLE, 0, 280, 400, 20, parent, nullptr,
                               wc.hInstance, nullptr);
    }

    void SetUp() override
    {
        ASSERT_NE(chart_, nullptr);
        ASSERT_NE(below_, nullptr);
        /* The second window over the chart's bottom edge, as a status bar
         * lies. */
        SetWindowPos(chart_, nullptr, 0, 0, 400, 300, SWP_NOZORDER);
        SetWindowPos(below_, nullptr, 0, 280, 400, 20, SWP_NOZORDER);
        Pump(50);
    }

    /* Lets the windows handle their messages for at least ms milliseconds. */
    static void Pump(DWORD ms)
    {
        DWORD start = GetTickCount();
        do {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            Sleep(10);
        } while (GetTickCount() - start < ms);
    }

    static bool Dead(HGDIOBJ object) { return GetObjectType(object) == 0; }

    /* The size of the picture that the chart shows. */
    static SIZE Picture()
    {
        BITMAP info = {};
        HGDIOBJ shown = reinterpret_cast<HGDIOBJ>(SendMessageA(chart_, STM_GETIMAGE, IMAGE_BITMAP, 0));
        GetObjectA(shown, sizeof info, &info);
        return SIZE{ info.bmWidth, info.bmHeight };
    }

    static HWND chart_;
    static HWND below_;
};

HWND GraphWindow::chart_ = nullptr;
HWND GraphWindow::below_ = nullptr;

TEST_F(GraphWindow, PaintsBackgroundGridLabelsAndLines)
{
    WindowGraph graph(2, below_);
    ASSERT_EQ(graph.Attach(chart_), S_OK);
    EXPECT_EQ(Picture().cx, 400);
    EXPECT_EQ(Picture().cy, 280);
    ASSERT_EQ(graph.SetUnit(1), S_OK);
    EXPECT_EQ(graph.Draw(), S_FALSE) << "within 500 ms of Attach";

    /* A known series across all 400 columns: line 0 at 90 (row 27), line 1
     * at 30 (row 195). */
    for (int n = 0; n < 400; ++n) {
        int samples[2] = { 90, 30 };
        ASSERT_EQ(graph.Add(samples), S_OK);
    }
    Pump(520);
    ASSERT_EQ(graph.Draw(), S_OK);

    CClientDC dc(chart_);
    ASSERT_NE(dc.Handle(), nullptr);
    EXPECT_EQ(dc.Window(), chart_);
    EXPECT_EQ(GetPixel(dc, 250, 250), kBackground);
    EXPECT_EQ(GetPixel(dc, 100, 100), kBackground);
    /* Grid rows 279, 209, 139, 69, 0 and a column 399 - 12 k. */
    for (int row : { 279, 209, 139, 69, 0 })
        EXPECT_EQ(GetPixel(dc, 250, row), kGrid) << "grid row " << row;
    EXPECT_EQ(GetPixel(dc, 279, 100), kGrid) << "grid column 279";
    EXPECT_EQ(GetPixel(dc, 280, 100), kBackground);
    EXPECT_EQ(GetPixel(dc, 250, 27), kGreen);
    EXPECT_EQ(GetPixel(dc, 5, 27), kGreen);
    EXPECT_EQ(GetPixel(dc, 250, 195), kYellow);
    EXPECT_EQ(GetPixel(dc, 202, 242), kMark) << "a derived grid paints with the real context";

    /* The label "   50" hangs below row 139; between the grid columns 15
     * and 27 some of it must show. */
    int lit = 0;
    for (int y = 141; y < 153; ++y)
        for (int x = 16; x < 27; ++x)
            lit += GetPixel(dc, x, y) != kBackground;
    EXPECT_GT(lit, 0) << "label text";
}

/* The second window's client height comes off wherever that window lies,
 * and a static control that took the size of the graph's picture is not cut
 * again however often the graph attaches. */
TEST_F(GraphWindow, TheSecondWindowsHeightComesOffOnceWhereverItLies)
{
    const POINT places[] = { { 400, 0 }, { 0, 300 }, { 0, 280 } };   /* beside, below, over */
    for (const POINT& at : places) {
        SetWindowPos(chart_, nullptr, 0, 0, 400, 300, SWP_NOMOVE | SWP_NOZORDER);
        SetWindowPos(below_, nullptr, at.x, at.y, 400, 20, SWP_NOZORDER);
        WindowGraph graph(1, below_);
        for (int n = 0; n < 3; ++n) {
            ASSERT_EQ(graph.Attach(chart_), S_OK);
            EXPECT_EQ(Picture().cy, 280) << "second window at " << at.x << "," << at.y << ", attach " << n;
            EXPECT_EQ(Picture().cx, 400);
        }
    }
}

/* Wine counts no GDI objects (GetGuiResources gives 0), so each object is
 * checked by its handle: a released one has no type any more. Handles come
 * back after a few hundred reuses of a table entry, so an old value that the
 * graph holds again is its new object. */
TEST_F(GraphWindow, AThousandAttachesAndGraphsLeaveNoObjectBehind)
{
    std::vector<HGDIOBJ> last;
    {
        WindowGraph graph(4, below_);
        for (int n = 0; n < 1000; ++n) {
            std::vector<HGDIOBJ> before = graph.Objects();
            ASSERT_EQ(graph.Attach(chart_), S_OK);
            std::vector<HGDIOBJ> now = graph.Objects();
            std::set<HGDIOBJ> held(now.begin(), now.end());
            for (HGDIOBJ old : before) {
                if (old && !held.count(old)) {
                    ASSERT_TRUE(Dead(old)) << "attach " << n << " released every old object";
                }
            }
            for (HGDIOBJ object : now) {
                ASSERT_NE(object, nullptr);
                ASSERT_FALSE(Dead(object));
            }
        }
        last = graph.Objects();
    }
    for (HGDIOBJ object : last)
        EXPECT_TRUE(Dead(object)) << object << " type " << GetObjectType(object);

    for (int n = 0; n < 1000; ++n) {
        std::vector<HGDIOBJ> objects;
        {
            /* Each new graph takes the second window's height off the size
             * that the last one's picture gave the control; give it back. */
            SetWindowPos(chart_, nullptr, 0, 0, 400, 300, SWP_NOMOVE | SWP_NOZORDER);
            WindowGraph graph(n % 5, below_);
            ASSERT_EQ(graph.Attach(chart_), S_OK);
            WindowGraph copy(graph);
            objects = graph.Objects();
        }
        for (HGDIOBJ object : objects) {
            if (object) {
                ASSERT_TRUE(Dead(object)) << "graph " << n;
            }
        }
    }
}

}  // namespace
