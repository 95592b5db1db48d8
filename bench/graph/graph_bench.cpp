/* One Draw of four full lines over a 400-pixel-wide graph, against the bare
 * GDI calls that paint the same picture; and one Add of four samples into
 * full histories, against clamping and storing them in plain arrays. The
 * best of several interleaved passes of each, in one run. Needs a display. */
#include <stdio.h>

#include <windows.h>

#include "bench_table.h"
#include "bench_timer.h"
#include "tools/graph.h"
#include "tools/runtime.h"

namespace {

const int kWidth = 400;
const int kHeight = 300;
const int kDrawsPerPass = 40;
const int kAddsPerPass = 200000;
const int kPasses = 5;

using tkbench::Now;

/* Seconds per call of f, run n times; keeps the best pass. */
template <typename F>
void Time(double& best, int n, F f)
{
    double start = Now();
    for (int i = 0; i < n; ++i)
        f(i);
    double seconds = (Now() - start) / n;
    if (best == 0 || seconds < best)
        best = seconds;
}

int Sample(int line, int n) { return (n * (7 + 3 * line) + 25 * line) % 101; }

/* A graph whose drawing is always due, with its state in view. */
class BenchGraph : public CGraph {
public:
    BenchGraph() : CGraph(4, nullptr) {}
    void Due() { m_dwLastDraw = TkGetTickCount() - 1000; }
    const RECT& Rect() const { return m_Rect; }
    unsigned Count(int line) const { return m_History[line].Count(); }
};

/* What Draw paints, straight through GDI: background, 34 vertical and 5
 * horizontal grid lines with labels, and four lines of 400 points. */
struct BarePicture {
    HBRUSH background = CreateSolidBrush(0);
    HPEN grid = CreatePen(PS_SOLID, 1, 0x408000);
    HPEN pens[4] = { CreatePen(PS_SOLID, 1, 0x00FF00), CreatePen(PS_SOLID, 1, 0x00FFFF),
                     CreatePen(PS_SOLID, 1, 0x0000FF), CreatePen(PS_SOLID, 1, 0xFFFFFF) };
    HFONT font = CreateFontA(14, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS,
                             CLIP_DEFAULT_PRECIS, PROOF_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Arial");
    POINT points[4][kWidth];

    BarePicture(int height)
    {
        for (int line = 0; line < 4; ++line)
            for (int k = 0; k < kWidth; ++k)
                points[line][k] = POINT{ kWidth - 1 - k, static_cast<int>((100 - Sample(line, k)) * (height - 1) / 100.0) };
    }
    ~BarePicture()
    {
        DeleteObject(background);
        DeleteObject(grid);
        for (HPEN p : pens)
            DeleteObject(p);
        DeleteObject(font);
    }

    void Paint(HWND window, int height, bool polyline)
    {
        HDC dc = GetDC(window);
        HGDIOBJ oldBrush = SelectObject(dc, background);
        PatBlt(dc, 0, 0, kWidth, height, PATCOPY);
        SelectObject(dc, oldBrush);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, 0x408000);
        HGDIOBJ oldFont = SelectObject(dc, font);
        HGDIOBJ oldPen = SelectObject(dc, grid);
        for (int x = kWidth - 1; x >= 0; x -= 12) {
            MoveToEx(dc, x, 0, nullptr);
            LineTo(dc, x, height - 1);
        }
        for (int i = 0; i < 5; ++i) {
            int y = (height - 1) * (4 - i) / 4;
            char label[8];
            int n = snprintf(label, sizeof label, "%5d", 25 * i);
            MoveToEx(dc, 0, y, nullptr);
            LineTo(dc, kWidth - 1, y);
            TextOutA(dc, 1, y, label, n);
        }
        for (int line = 3; line >= 0; --line) {
            SelectObject(dc, pens[line]);
            if (polyline) {
                Polyline(dc, points[line], kWidth);
            } else {
                MoveToEx(dc, points[line][0].x, points[line][0].y, nullptr);
                for (const POINT& p : points[line])
                    LineTo(dc, p.x, p.y);
            }
        }
        SelectObject(dc, oldPen);
        SelectObject(dc, oldFont);
        ReleaseDC(window, dc);
    }
};

/* The histories' work in plain arrays: clamp, store, advance. */
struct BareHistories {
    int ring[4][kWidth] = {};
    int newest = 0;

    void Add(int* samples)
    {
        newest = newest + 1 == kWidth ? 0 : newest + 1;
        for (int line = 0; line < 4; ++line) {
            if (samples[line] > 100)
                samples[line] = 100;
            else if (samples[line] < 0)
                samples[line] = 0;
            ring[line][newest] = samples[line];
        }
    }
};

volatile int g_sink;

}  // namespace

int main()
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    TkInitialize();
    HWND parent = CreateWindowA("STATIC", "bench", WS_POPUP | WS_VISIBLE, 0, 0, kWidth, kHeight, nullptr, nullptr,
                                nullptr, nullptr);
    HWND chart = CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE | SS_BITMAP, 0, 0, kWidth, kHeight, parent,
                               nullptr, nullptr, nullptr);
    if (!chart) {
        printf("no window (error %lu): run this with a display\n", GetLastError());
        return 1;
    }

    BenchGraph graph;
    if (graph.Attach(chart) != S_OK || graph.SetUnit(1) != S_OK) {
        printf("the graph cannot attach\n");
        return 1;
    }
    for (int n = 0; n < 2 * kWidth; ++n) {
        int samples[4] = { Sample(0, n), Sample(1, n), Sample(2, n), Sample(3, n) };
        graph.Add(samples);
    }
    int height = graph.Rect().bottom;

    BarePicture bare(height);
    BareHistories plain;
    double draw = 0, lineTo = 0, polyline = 0, add = 0, store = 0;
    for (int pass = 0; pass < kPasses; ++pass) {
        Time(draw, kDrawsPerPass, [&](int) {
            graph.Due();
            g_sink = graph.Draw();
        });
        Time(lineTo, kDrawsPerPass, [&](int) { bare.Paint(chart, height, false); });
        Time(polyline, kDrawsPerPass, [&](int) { bare.Paint(chart, height, true); });
        Time(add, kAddsPerPass, [&](int n) {
            int samples[4] = { n % 150, -n % 7, n % 101, 50 };
            g_sink = graph.Add(samples);
        });
        Time(store, kAddsPerPass, [&](int n) {
            int samples[4] = { n % 150, -n % 7, n % 101, 50 };
            plain.Add(samples);
            g_sink = samples[0];
        });
    }

    const std::string size = tkbench::Cell("4 lines x %u samples, %ld x %d px", graph.Count(0), graph.Rect().right,
                                           height);
    bool met = tkbench::Row("`CGraph::Draw`, " + size, tkbench::Cell("%.1f us", draw * 1e6),
                            tkbench::Cell("bare GDI, one `Polyline` a line, %.1f us", polyline * 1e6),
                            tkbench::Cell("%.2fx the time", draw / polyline), "≤ 1.05x", draw / polyline <= 1.05);
    tkbench::Row("`CGraph::Draw`, " + size, tkbench::Cell("%.1f us", draw * 1e6),
                 tkbench::Cell("bare GDI, one `LineTo` a point, %.1f us", lineTo * 1e6));
    met = tkbench::Row("`CGraph::Add`, 4 samples", tkbench::Cell("%.1f ns", add * 1e9),
                       tkbench::Cell("clamping and storing in plain arrays, %.1f ns", store * 1e9),
                       tkbench::Cell("%.2fx the time", add / store), "≤ 2x", add / store <= 2.0) && met;

    DestroyWindow(parent);
    TkTerminate();
    return met ? 0 : 1;
}
