/* settings.cpp -- the graph's construction, copies, settings and the
 * taking of samples. */
#include "tools/graph.h"
#include "tools/runtime.h"
#include "graph/geometry.h"
#include "graph/graph_platform.h"

namespace {

/* The pens, widths, colours and histories have four entries. */
int LimitLines(int lines)
{
    return lines < 0 ? 0 : lines > 4 ? 4 : lines;
}

}  // namespace

CGraph::CGraph(int nLines, HWND hWndBelow)
    : m_hWnd(nullptr), m_hWndBelow(hWndBelow), m_Rect(), m_nLines(LimitLines(nLines)), m_nMaxSamples(1),
      m_nUnit(1), m_nMin(0), m_nMax(100), m_nGridPercent(25), m_Widths{ 1, 1, 1, 1 }, m_nGridWidth(1),
      m_fScaleY(1.0f), m_fGridX(0.0f), m_fGridY(0.0f), m_dwLastDraw(0), m_bSuspended(false),
      m_GridColor(0x408000), m_BkColor(0x000000), m_Colors{ 0x00FF00, 0x00FFFF, 0x0000FF, 0xFFFFFF },
      m_bAttached(false), m_hPicture(nullptr), m_nLeastCapacity(0), m_bSameShape(true) {}

CGraph::CGraph(const CGraph& other)
    : m_hWnd(other.m_hWnd), m_hWndBelow(other.m_hWndBelow), m_Rect(other.m_Rect), m_nLines(other.m_nLines),
      m_nMaxSamples(other.m_nMaxSamples), m_nUnit(other.m_nUnit), m_nMin(other.m_nMin), m_nMax(other.m_nMax),
      m_nGridPercent(other.m_nGridPercent), m_Widths{ other.m_Widths[0], other.m_Widths[1], other.m_Widths[2],
                                                      other.m_Widths[3] },
      m_nGridWidth(other.m_nGridWidth), m_fScaleY(other.m_fScaleY), m_fGridX(other.m_fGridX),
      m_fGridY(other.m_fGridY), m_dwLastDraw(other.m_dwLastDraw), m_bSuspended(other.m_bSuspended),
      m_GridColor(other.m_GridColor), m_BkColor(other.m_BkColor),
      m_Colors{ other.m_Colors[0], other.m_Colors[1], other.m_Colors[2], other.m_Colors[3] },
      m_bAttached(false), m_hPicture(nullptr), m_nLeastCapacity(0), m_bSameShape(true)
{
    for (int i = 0; i < 4; ++i)
        if (!m_History[i].CopyFrom(other.m_History[i]))
            ThrowMemoryException();
    LearnHistoryShape();
}

CGraph& CGraph::operator=(const CGraph& other)
{
    if (this == &other)
        return *this;
    /* Everything that can fail comes first, so that a failure leaves this
     * graph as it was. */
    CSampleHistory copies[4];
    for (int i = 0; i < 4; ++i)
        if (!copies[i].CopyFrom(other.m_History[i]))
            ThrowMemoryException();
    ReleaseObjects();
    m_hWnd = other.m_hWnd;
    m_hWndBelow = other.m_hWndBelow;
    m_Rect = other.m_Rect;
    m_nLines = other.m_nLines;
    m_nMaxSamples = other.m_nMaxSamples;
    m_nUnit = other.m_nUnit;
    m_nMin = other.m_nMin;
    m_nMax = other.m_nMax;
    m_nGridPercent = other.m_nGridPercent;
    m_nGridWidth = other.m_nGridWidth;
    m_fScaleY = other.m_fScaleY;
    m_fGridX = other.m_fGridX;
    m_fGridY = other.m_fGridY;
    m_dwLastDraw = other.m_dwLastDraw;
    m_bSuspended = other.m_bSuspended;
    m_GridColor = other.m_GridColor;
    m_BkColor = other.m_BkColor;
    for (int i = 0; i < 4; ++i) {
        m_Widths[i] = other.m_Widths[i];
        m_Colors[i] = other.m_Colors[i];
        m_History[i].Swap(copies[i]);
    }
    LearnHistoryShape();
    return *this;
}

/* What Add may rely on about the line histories: the least capacity
 * (histories only grow, so it never overstates the room until they are
 * replaced), and whether all of them have the same capacity, count and
 * newest index (Add keeps them so: each takes one sample a call). */
void CGraph::LearnHistoryShape()
{
    unsigned least = ~0u;
    bool same = true;
    for (int i = 0; i < m_nLines; ++i) {
        const CSampleHistory& history = m_History[i];
        if (history.m_nCapacity < least)
            least = history.m_nCapacity;
        same = same && history.m_nCapacity == m_History[0].m_nCapacity &&
            history.m_nCount == m_History[0].m_nCount && history.m_nNewest == m_History[0].m_nNewest;
    }
    m_nLeastCapacity = least;
    m_bSameShape = same;
}

bool CGraph::MakeRoom(unsigned bound)
{
    bool made = true;
    for (int i = 0; i < m_nLines && made; ++i) {
        CSampleHistory& history = m_History[i];
        if (history.NeedsRoom(bound))
            made = history.Reserve(history.Count() < bound ? history.Count() + 1 : bound);
    }
    LearnHistoryShape();
    return made;
}

/* Clamps each line's sample into the range, writes it back and stores it as
 * its line's newest, in histories of one shape with room for it: one ring
 * position and one count serve every line. */
inline void CGraph::StoreInStep(int* pSamples, unsigned bound)
{
    /* In locals: the caller's array could alias the graph's own fields as
     * far as the compiler knows, which would reload them at each store. */
    const int low = m_nMin;
    const int high = m_nMax;
    const int lines = m_nLines;
    const CSampleHistory& first = m_History[0];
    const unsigned newest = first.m_nNewest + 1 == first.m_nCapacity ? 0 : first.m_nNewest + 1;
    const unsigned count = first.m_nCount < bound ? first.m_nCount + 1 : bound;
    for (int i = 0; i < lines; ++i) {
        const int sample = pSamples[i] > high ? high : pSamples[i] < low ? low : pSamples[i];
        pSamples[i] = sample;
        CSampleHistory& history = m_History[i];
        history.m_pRing[newest] = sample;
        history.m_nNewest = newest;
        history.m_nCount = count;
    }
}

HRESULT CGraph::Add(int* pSamples)
{
    if (!pSamples)
        return E_POINTER;
    /* A bound of 0 (a rectangle narrower than one step) keeps the newest. */
    const unsigned bound = m_nMaxSamples ? m_nMaxSamples : 1;
    /* Growth is rare (a full history needs none), and histories fall out of
     * step only when one of them could not grow: both are out of line, so
     * that the common Add makes two comparisons and no call. */
    if (__builtin_expect(bound > m_nLeastCapacity || !m_bSameShape, 0))
        return AddUnusually(pSamples, bound);
    StoreInStep(pSamples, bound);
    return S_OK;
}

HRESULT CGraph::AddUnusually(int* pSamples, unsigned bound)
{
    /* All room first: a history that cannot grow leaves every line as it
     * was, rather than some lines a sample ahead of the others. */
    if (bound > m_nLeastCapacity && !MakeRoom(bound))
        return E_OUTOFMEMORY;
    if (m_bSameShape) {
        StoreInStep(pSamples, bound);
        return S_OK;
    }
    const int low = m_nMin;
    const int high = m_nMax;
    for (int i = 0; i < m_nLines; ++i) {
        const int sample = pSamples[i] > high ? high : pSamples[i] < low ? low : pSamples[i];
        pSamples[i] = sample;
        m_History[i].PushNewest(sample, bound);
    }
    return S_OK;
}

HRESULT CGraph::SetUnit(int nUnit)
{
    if (nUnit < 1 || nUnit > tk::kMostUnit)
        return E_INVALIDARG;
    m_nUnit = nUnit;
    m_nMaxSamples = tk::Bound(m_Rect, m_nUnit);
    return S_OK;
}

HRESULT CGraph::SetGridUnit(int nGridX, int nGridPercent)
{
    if (nGridX > tk::kMostGridUnit)
        return E_INVALIDARG;
    m_nGridPercent = nGridPercent;
    m_fGridX = tk::RoundToFloat(4.0 * nGridX);
    m_fGridY = tk::GridY(m_Rect, m_nGridPercent);
    return S_OK;
}

HRESULT CGraph::SetRange(int nMin, int nMax)
{
    if (nMin >= nMax)
        return E_INVALIDARG;
    m_nMin = nMin;
    m_nMax = nMax;
    m_fScaleY = tk::ScaleY(m_Rect, m_nMin, m_nMax);
    return S_OK;
}

HRESULT CGraph::SetBkColor(unsigned long color)
{
    m_BkColor = color;
    return S_OK;
}

HRESULT CGraph::SetLineColor(unsigned long* pColors, int* pWidths)
{
    if (!pColors || !pWidths)
        return E_POINTER;
    for (int i = 0; i < m_nLines; ++i) {
        m_Colors[i] = pColors[i];
        m_Widths[i] = pWidths[i];
    }
    return S_OK;
}

HRESULT CGraph::SetGridColor(unsigned long color, int nWidth)
{
    m_GridColor = color;
    m_nGridWidth = nWidth;
    return S_OK;
}
