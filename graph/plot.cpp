/* plot.cpp -- painting the background, the scrolling grid with its labels
 * and the lines. */
#include <stdio.h>

#include "tools/graph.h"
#include "graph/geometry.h"
#include "graph/graph_platform.h"
#include "graph/owners.h"

namespace {

/* The least time between two drawings of one graph, in milliseconds. */
const DWORD kInterval = 500;

/* Points of a line handed to GDI in one call: a 400-pixel graph's in two. */
const DWORD kLineBatch = 256;

/* Samples kept from a range wider than the current one may lie far outside
 * the rectangle, and a double beyond the range of int has no defined
 * conversion. */
const double kFarthest = tk::kMostCoordinate;

}  // namespace

int CGraph::s_nGridOffset = 0;

HRESULT CGraph::Draw()
{
    if (!m_bAttached)
        return E_FAIL;
    const tk::GraphPlatform& s = tk::GraphSeam().Calls();
    DWORD now = s.tickCount();
    if (m_bSuspended)
        return S_FALSE;
    /* Unsigned, so that the difference is right across the clock's wrap. */
    if (now - m_dwLastDraw < kInterval)
        return S_FALSE;
    m_dwLastDraw = now;

    CClientDC dc(m_hWnd);
    if (!dc.Handle()) {
        tk::FirstFailure failure;
        failure.Check(false);
        return failure.Result();
    }
    {
        tk::ScopedSelection brush(dc, m_BkBrush);
        s.patBlt(dc, 0, 0, m_Rect.right, m_Rect.bottom, PATCOPY);
    }
    HRESULT hr = DrawGrid(dc);
    if (FAILED(hr))
        return hr;
    /* From the last line to the first, so that the first ends on top. */
    tk::ScopedSelection pen(dc);
    for (int i = m_nLines - 1; i >= 0; --i) {
        pen.Select(m_Pens[i]);
        DrawLine(dc, m_History[i]);
    }
    return hr;
}

int CGraph::Row(int v) const
{
    double row = (static_cast<double>(m_nMax) - v) * m_fScaleY;
    if (row > kFarthest)
        return static_cast<int>(kFarthest);
    if (row < -kFarthest)
        return -static_cast<int>(kFarthest);
    return static_cast<int>(row);
}

/* The newest sample on column right - 1, each older one a step further
 * left, while the column is not negative: however long the history, at most
 * (right - 1) / step + 1 samples are visited. The first point has no length
 * and only sets the start. The points go to GDI a batch at a time, each
 * batch going on from where the last one ended: the pixels of one line to
 * each point in turn, for a fraction of the calls. */
void CGraph::DrawLine(HDC dc, const CSampleHistory& history) const
{
    const tk::GraphPlatform& s = tk::GraphSeam().Calls();
    unsigned count = history.Count();
    if (!count)
        return;
    POINT batch[kLineBatch];
    DWORD filled = 0;
    int x = m_Rect.right - 1;
    s.moveToEx(dc, x, Row(history.At(0)), nullptr);
    for (unsigned k = 0; k < count; ++k) {
        batch[filled++] = POINT{ x, Row(history.At(k)) };
        if (filled == kLineBatch) {
            s.polylineTo(dc, batch, filled);
            filled = 0;
        }
        if (x < m_nUnit)
            break;
        x -= m_nUnit;
    }
    if (filled)
        s.polylineTo(dc, batch, filled);
}

HRESULT CGraph::DrawGrid(CClientDC& dc)
{
    const tk::GraphPlatform& s = tk::GraphSeam().Calls();
    int mode = s.setBkMode(dc, TRANSPARENT);
    COLORREF textColor = s.setTextColor(dc, m_GridColor);
    {
        tk::ScopedSelection font(dc, m_Font);
        tk::ScopedSelection pen(dc, m_GridPen);

        /* Spacings below one pixel would not end the loops (nor give the
         * offset a divisor); such a grid has no lines of that direction.
         * With a spacing of at least one, every step moves x left by at
         * least one column. */
        if (m_fGridX >= 1.0f) {
            for (int x = (m_Rect.right - 1) - s_nGridOffset; x >= 0;
                 x = static_cast<int>(x - static_cast<double>(m_fGridX))) {
                s.moveToEx(dc, x, 0, nullptr);
                s.lineTo(dc, x, m_Rect.bottom - 1);
            }
            s_nGridOffset = static_cast<int>((static_cast<long long>(s_nGridOffset) + m_nUnit) %
                                             static_cast<long long>(m_fGridX));
        }

        /* A spacing of one pixel or more needs a rectangle at least two
         * pixels high, so the scale is above 0 and every label finite. */
        if (m_fGridY >= 1.0f) {
            const float y0 = tk::RoundToFloat(m_Rect.bottom - 1);
            for (float y = y0; y >= 0.0f; y = tk::RoundToFloat(static_cast<double>(y) - m_fGridY)) {
                char label[32];
                int length = snprintf(label, sizeof label, "%5.0f", (static_cast<double>(y0) - y) / m_fScaleY);
                int row = static_cast<int>(y);
                s.moveToEx(dc, 0, row, nullptr);
                s.lineTo(dc, m_Rect.right - 1, row);
                /* The text hangs below its line. */
                s.textOutA(dc, 1, row, label, length);
            }
        }
    }
    s.setTextColor(dc, textColor);
    s.setBkMode(dc, mode);
    return S_OK;
}
