/* window.cpp -- binding a graph to its window, its drawing objects and size
 * changes. */
#include "tools/graph.h"
#include "graph/geometry.h"
#include "graph/graph_platform.h"
#include "graph/owners.h"

namespace {

/* (0, 0, width, height) less the second window's height; a second window
 * taller than that leaves a rectangle of no height. */
RECT DrawingRect(int width, int height, int below)
{
    RECT rect = { 0, 0, width, below < height ? height - below : 0 };
    return rect;
}

}  // namespace

CGraph::~CGraph()
{
    tk::LastErrorKeeper keep;
    TakePictureOff();
    /* The members end after this body, in the reverse order of their
     * declaration: the histories, the fourth line's first, then the font,
     * bitmap, background brush, grid pen and the line pens from the fourth
     * to the first. */
}

HRESULT CGraph::Attach(HWND hWnd)
{
    if (!hWnd)
        return E_INVALIDARG;
    const tk::GraphPlatform& s = tk::GraphSeam().Calls();
    RECT client;
    if (!s.getClientRect(hWnd, &client))
        return E_INVALIDARG;

    /* A control that took the size of our own picture had the second
     * window's height taken off already. */
    const bool sizedByOurPicture = m_bAttached && hWnd == m_hWnd && m_Bitmap.Handle() &&
        client.right == m_Rect.right && client.bottom == m_Rect.bottom;
    /* No window may show the old picture while it is released; a window
     * that the graph leaves shows none from now on. */
    TakePictureOff();
    m_hWnd = hWnd;
    m_Rect = DrawingRect(client.right, client.bottom, sizedByOurPicture ? 0 : BelowHeight());
    m_fScaleY = tk::ScaleY(m_Rect, m_nMin, m_nMax);
    m_fGridX = tk::RoundToFloat(12.0 * m_nUnit);
    m_fGridY = tk::GridY(m_Rect, m_nGridPercent);

    tk::FirstFailure failure;
    CClientDC dc(hWnd);
    failure.Check(dc.Handle() != nullptr);
    if (ReleaseForReplacement(m_BkBrush, failure))
        TakeNew(m_BkBrush, s.createSolidBrush(m_BkColor), failure);
    if (ReleaseForReplacement(m_Font, failure))
        TakeNew(m_Font, s.createFontA(14, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS,
                                     CLIP_DEFAULT_PRECIS, PROOF_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Arial"),
               failure);
    MakePicture(dc, failure);
    if (ReleaseForReplacement(m_GridPen, failure))
        TakeNew(m_GridPen, s.createPen(PS_SOLID, m_nGridWidth, m_GridColor), failure);
    for (int i = 0; i < m_nLines; ++i)
        if (ReleaseForReplacement(m_Pens[i], failure))
            TakeNew(m_Pens[i], s.createPen(PS_SOLID, m_Widths[i], m_Colors[i]), failure);
    m_dwLastDraw = s.tickCount();
    m_bAttached = true;
    return failure.Result();
}

HRESULT CGraph::Resize(unsigned int nType, int nWidth, int nHeight)
{
    if (nType == SIZE_MINIMIZED || nType == SIZE_MAXHIDE) {
        m_bSuspended = true;
        return S_OK;
    }
    if (nWidth < 0 || nHeight < 0)
        return E_INVALIDARG;
    const tk::GraphPlatform& s = tk::GraphSeam().Calls();
    m_bSuspended = false;
    int below = BelowHeight();
    RECT rect = DrawingRect(nWidth, nHeight, below);
    /* Placed along the parent's bottom edge by the graph itself, so that any
     * window will do there, not only one that places itself when moved. */
    if (m_hWndBelow)
        s.moveWindow(m_hWndBelow, 0, nHeight - below, nWidth, below, TRUE);
    if (rect.left == m_Rect.left && rect.top == m_Rect.top && rect.right == m_Rect.right &&
        rect.bottom == m_Rect.bottom)
        return S_FALSE;

    m_Rect = rect;
    m_fScaleY = tk::ScaleY(m_Rect, m_nMin, m_nMax);
    m_fGridY = tk::GridY(m_Rect, m_nGridPercent);
    m_nMaxSamples = tk::Bound(m_Rect, m_nUnit);
    if (!m_bAttached)
        return S_OK;

    tk::FirstFailure failure;
    CClientDC dc(m_hWnd);
    failure.Check(dc.Handle() != nullptr);
    TakePictureOff();
    MakePicture(dc, failure);
    {
        tk::ScopedSelection brush(dc, m_BkBrush);
        s.patBlt(dc, 0, 0, m_Rect.right, m_Rect.bottom, PATCOPY);
    }
    return failure.Result();
}

/* The second window's client height; 0 without one, or when its client
 * area cannot be read. */
int CGraph::BelowHeight() const
{
    RECT below;
    if (m_hWndBelow && tk::GraphSeam().Calls().getClientRect(m_hWndBelow, &below))
        return below.bottom;
    return 0;
}

/* Releases the bitmap and makes one of the drawing rectangle's size, filled
 * with the background, for the graph window to show. A bitmap that cannot be
 * released is shown again instead. */
void CGraph::MakePicture(HDC windowDC, tk::FirstFailure& failure)
{
    const tk::GraphPlatform& s = tk::GraphSeam().Calls();
    if (ReleaseForReplacement(m_Bitmap, failure)) {
        TakeNew(m_Bitmap, s.createCompatibleBitmap(windowDC, m_Rect.right, m_Rect.bottom), failure);
        if (m_Bitmap.Handle()) {
            tk::UniqueMemoryDC memory(s.createCompatibleDC(windowDC));
            failure.Check(memory.Valid());
            if (memory) {
                /* Both selections end before the context is deleted and the
                 * bitmap given away: a bitmap selected into a context cannot
                 * be shown by the window. */
                tk::ScopedSelection bitmap(memory.Get(), m_Bitmap);
                tk::ScopedSelection brush(memory.Get(), m_BkBrush);
                s.patBlt(memory.Get(), 0, 0, m_Rect.right, m_Rect.bottom, PATCOPY);
            }
        }
    }
    s.sendMessageA(m_hWnd, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(m_Bitmap.Handle()));
    /* A control of the newer common controls shows a copy of a bitmap with
     * an alpha channel: what it shows is what comes off again. */
    m_hPicture = m_Bitmap.Handle()
        ? reinterpret_cast<HGDIOBJ>(s.sendMessageA(m_hWnd, STM_GETIMAGE, IMAGE_BITMAP, 0))
        : nullptr;
}

/* Takes this graph's picture off its window, and only this graph's: another
 * graph on the same window may have given it a picture since. A copy that
 * the control made of the bitmap comes back from it, and is deleted. */
void CGraph::TakePictureOff()
{
    if (!m_bAttached || !m_hPicture)
        return;
    const tk::GraphPlatform& s = tk::GraphSeam().Calls();
    HGDIOBJ shown = reinterpret_cast<HGDIOBJ>(s.sendMessageA(m_hWnd, STM_GETIMAGE, IMAGE_BITMAP, 0));
    if (shown == m_hPicture) {
        HGDIOBJ previous = reinterpret_cast<HGDIOBJ>(s.sendMessageA(m_hWnd, STM_SETIMAGE, IMAGE_BITMAP, 0));
        if (previous && previous != m_Bitmap.Handle())
            s.deleteObject(previous);
    }
    m_hPicture = nullptr;
}

/* Detaches the graph: every object it can release goes; one that cannot is
 * kept, and tried again when the graph ends. */
void CGraph::ReleaseObjects()
{
    tk::LastErrorKeeper keep;
    TakePictureOff();
    m_Font.Release();
    m_Bitmap.Release();
    m_BkBrush.Release();
    m_GridPen.Release();
    for (int i = 3; i >= 0; --i)
        m_Pens[i].Release();
    m_bAttached = false;
}

bool CGraph::ReleaseForReplacement(CGdiObject& owner, tk::FirstFailure& failure)
{
    bool released = owner.Release();
    failure.Check(released);
    return released;
}

void CGraph::TakeNew(CGdiObject& owner, HGDIOBJ object, tk::FirstFailure& failure)
{
    failure.Check(object != nullptr);
    owner.Take(object);
}
