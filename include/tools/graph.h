/* graph.h -- a scrolling live chart of up to four lines of integer samples.
 *
 * A test window constructs a CGraph, attaches it to a static control that
 * shows a bitmap (SS_BITMAP), sets step, range and grid after Attach, passes
 * its own size changes to Resize, calls Add whenever a measurement arrives
 * and Draw as often as it likes: the graph paints background, grid with value
 * labels and lines into the control at most once in 500 ms (TkGetTickCount),
 * newest sample at the right edge.
 *
 * Every operation but construction, copying and destruction is virtual and
 * returns an HRESULT; none throws. A graph is used by one thread at a time,
 * and all graphs of a process are drawn from one thread, because they share
 * the one scroll offset of the vertical grid lines.
 */
#ifndef TOOLS_GRAPH_H
#define TOOLS_GRAPH_H

#include <windows.h>

#include "tools/export.h"

namespace tk {
/* The record of an operation's first failure; internal to the library. */
class FirstFailure;
}  // namespace tk

/* A drawing context on a window's client area (GetDC), released when the
 * holder ends; the caller's last-error code survives the release. */
class TOOLS_API CClientDC {
public:
    explicit CClientDC(HWND hWnd);
    ~CClientDC();

    HWND Window() const { return m_hWnd; }
    HDC Handle() const { return m_hDC; }
    operator HDC() const { return m_hDC; }

private:
    CClientDC(const CClientDC&) = delete;
    CClientDC& operator=(const CClientDC&) = delete;

    HWND m_hWnd;
    HDC m_hDC;   /* none when the window gave no context */
};

/* Owns one drawing object of a graph and releases it when the owner ends.
 * Only the graph makes and replaces the object; a release that fails keeps
 * the handle, and the owner tries once more when it ends. */
class TOOLS_API CGdiObject {
public:
    CGdiObject() : m_hObject(nullptr) {}
    ~CGdiObject();

    HGDIOBJ Handle() const { return m_hObject; }

private:
    friend class CGraph;
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    /* Releases the object; true when the owner holds none afterwards. */
    bool Release();
    /* Takes a new object (none allowed) into an empty owner. */
    void Take(HGDIOBJ object) { m_hObject = object; }

    HGDIOBJ m_hObject;
};

/* The owner of one kind of drawing object, read as its own handle type. */
template <typename H>
class CGdiOwner : public CGdiObject {
public:
    operator H() const { return static_cast<H>(Handle()); }
};

typedef CGdiOwner<HPEN> CGraphPen;
typedef CGdiOwner<HBRUSH> CGraphBrush;
typedef CGdiOwner<HBITMAP> CGraphBitmap;
typedef CGdiOwner<HFONT> CGraphFont;

/* The samples of one line, newest first. They lie in a ring that grows with
 * the history, so that a full history takes a new sample without allocating. */
class TOOLS_API CSampleHistory {
public:
    CSampleHistory() : m_pRing(nullptr), m_nCapacity(0), m_nCount(0), m_nNewest(0) {}
    ~CSampleHistory();

    unsigned Count() const { return m_nCount; }
    /* The sample k places back from the newest (0 is the newest); k must be
     * below Count(). */
    int At(unsigned k) const
    {
        unsigned i = m_nNewest >= k ? m_nNewest - k : m_nNewest + m_nCapacity - k;
        return m_pRing[i];
    }

private:
    friend class CGraph;
    CSampleHistory(const CSampleHistory&) = delete;
    CSampleHistory& operator=(const CSampleHistory&) = delete;

    /* Makes room for count samples; false, with nothing changed, when the
     * memory cannot be had. */
    bool Reserve(unsigned count);
    /* Whether a Push under this bound needs more room than the ring has. */
    bool NeedsRoom(unsigned bound) const { return (m_nCount < bound ? m_nCount + 1 : bound) > m_nCapacity; }
    /* Inserts sample as the newest and drops the oldest beyond bound (at
     * least 1); room for the result must have been reserved. */
    void Push(int sample, unsigned bound);
    /* Push's work, inline for the graph's Add. The ring's slots beyond the
     * count are free: the slot after the newest is either free or the
     * oldest, and dropping the oldest needs no more than a count that stops
     * short of it. */
    void PushNewest(int sample, unsigned bound)
    {
        m_nNewest = m_nNewest + 1 == m_nCapacity ? 0 : m_nNewest + 1;
        m_pRing[m_nNewest] = sample;
        m_nCount = m_nCount < bound ? m_nCount + 1 : bound;
    }
    /* Copies source's samples into this empty history; false, with nothing
     * changed, when the memory cannot be had. */
    bool CopyFrom(const CSampleHistory& source);
    void Swap(CSampleHistory& other);

    int* m_pRing;
    unsigned m_nCapacity;
    unsigned m_nCount;
    unsigned m_nNewest;   /* index of the newest sample in m_pRing */
};

class TOOLS_API CGraph {
public:
    /* A graph of nLines lines (a count below 0 gives none, above 4 gives
     * four) with an optional second window of the same parent along its
     * bottom, such as a status bar, that the graph leaves uncovered. The
     * graph is detached until Attach: range 0 to 100, step 1, grid percent
     * 25, pen widths 1, black background, grid colour 0x408000, lines
     * green, yellow, red and white. */
    CGraph(int nLines, HWND hWndBelow);
    /* A copy takes settings, rectangle, factors, times, window handles and
     * histories (samples of its own, in the same order) but no drawing
     * objects: it is detached, draws nothing and leaves the source's window
     * alone until its own Attach makes objects of its own. Each object is
     * therefore released by the one graph that made it. When the histories
     * cannot be allocated, copying throws the library's static
     * CMemoryException (as CMemoryException*), and an assigned graph stays
     * as it was. Assignment first releases the assigned graph's own drawing
     * objects, taking its picture off its window. */
    CGraph(const CGraph& other);
    CGraph& operator=(const CGraph& other);
    /* Takes the picture off the graph window, frees the histories and
     * releases the drawing objects. */
    virtual ~CGraph();

    /* Binds the graph to hWnd, a static control of the caller's window:
     * measures the drawing rectangle (its client area less the second
     * window's client height, wherever that window lies), recomputes scale, grid spacings (the vertical one becomes
     * 12 x step, replacing that of SetGridUnit), makes the pens, brush,
     * font and a picture bitmap filled with the background colour from the
     * settings made so far, releasing each old object before making its
     * replacement, and gives the control the picture. The history bound is
     * left as it is: set the step with SetUnit after Attach (until SetUnit
     * or Resize runs, a new graph keeps one sample per line). The first
     * drawing is due 500 ms later. A static control takes the size of the
     * picture it is given; when this graph attaches again to the control
     * it last attached to and finds it exactly the size of the picture it
     * gave it, that picture already left room for the second window, and
     * the height is not cut again (so repeated calls do not shrink it). Call it again to apply new colours or
     * widths. E_INVALIDARG for no window or one whose client
     * area cannot be read (nothing changes). When an object cannot be made,
     * or an old one cannot be released (it is kept, and not replaced), the
     * graph still attaches, draws with what it has, and returns the first
     * such failure as a converted last-error code (E_FAIL when the system
     * gave none), leaving that code as the thread's last error. */
    virtual HRESULT Attach(HWND hWnd);
    /* One sample per line: pSamples holds as many entries as the graph has
     * lines. Each is clamped into the range, written back into the caller's
     * array, and becomes the newest sample of its line; a history keeps at
     * most as many samples as the bound (steps across the drawing
     * rectangle; at least 1). E_POINTER for no array; E_OUTOFMEMORY when a
     * history cannot grow, with nothing changed, not even the array. */
    virtual HRESULT Add(int* pSamples);
    /* Paints background, grid (through DrawGrid) and lines into the graph
     * window, lines from the last to the first so that the first ends on
     * top. S_FALSE without painting while suspended or within 500 ms of
     * Attach or the last drawing (by TkGetTickCount, right across its
     * wrap); E_FAIL when the graph is not attached; a converted last-error
     * code (E_FAIL when the system gave none) when the window gives no
     * drawing context; a failure of DrawGrid ends the drawing after the grid
     * and is returned. */
    virtual HRESULT Draw();
    /* Draws the vertical grid lines, every m_fGridX pixels from the right
     * edge leftward and shifted left by the shared offset, which then
     * advances by one step; and the horizontal lines, every m_fGridY pixels
     * from the bottom row upward, each labelled with its height above the
     * bottom row in value units. A spacing below one pixel (such as that of
     * a grid percent of 0, of a one-pixel-high rectangle, or of a vertical
     * unit of 0) draws no lines of that direction, and the offset then
     * stays where it is.
     * A derived class may draw a grid of its own; a negative result stops
     * the drawing. Returns S_OK. */
    virtual HRESULT DrawGrid(CClientDC& dc);
    /* Follows a size change of the parent (the WM_SIZE type, and the new
     * client width and height). SIZE_MINIMIZED and SIZE_MAXHIDE suspend
     * drawing and change nothing else; any other type resumes it, places
     * the second window along the parent's bottom edge (its own client
     * height high, the parent's width wide), and takes the new size for the
     * drawing rectangle: scale, horizontal grid spacing, bound and a new
     * picture bitmap filled with the background follow, and the window is
     * painted with the background. S_FALSE when the rectangle stays as it
     * was; E_INVALIDARG for a negative width or height (nothing changes).
     * A graph not yet attached takes the size but makes and paints nothing.
     * Failures of the platform are reported as by Attach. */
    virtual HRESULT Resize(unsigned int nType, int nWidth, int nHeight);
    /* Horizontal step between neighbouring samples, in pixels; the bound
     * becomes the steps across the drawing rectangle. A step below 1 or
     * above 11,184,810 (12 steps, the grid spacing that Attach derives,
     * must stay within GDI's 27-bit coordinates) gives E_INVALIDARG and
     * changes nothing. */
    virtual HRESULT SetUnit(int nUnit);
    /* Vertical grid spacing in units of 4 pixels (until the next Attach)
     * and horizontal grid spacing in percent of the drawing height. A unit
     * above 33,554,431 (4 units must stay within GDI's 27-bit coordinates)
     * gives E_INVALIDARG and changes nothing. */
    virtual HRESULT SetGridUnit(int nGridX, int nGridPercent);
    /* Range of the samples; E_INVALIDARG unless nMin is below nMax. */
    virtual HRESULT SetRange(int nMin, int nMax);
    /* Background colour (0x00BBGGRR), used from the next Attach. */
    virtual HRESULT SetBkColor(unsigned long color);
    /* Colour and pen width of each line, one entry per line in each array,
     * used from the next Attach; E_POINTER when either array is absent. */
    virtual HRESULT SetLineColor(unsigned long* pColors, int* pWidths);
    /* Grid and label colour (labels from the next drawing, lines from the
     * next Attach) and grid pen width (from the next Attach). */
    virtual HRESULT SetGridColor(unsigned long color, int nWidth);

protected:
    /* The graph's state, readable by a derived class that draws a grid of
     * its own; change it only through the operations above. */
    HWND m_hWnd;              /* the graph window, set by Attach */
    HWND m_hWndBelow;         /* the second window, or none */
    CGraphPen m_Pens[4];      /* one per line */
    CGraphPen m_GridPen;
    CGraphBrush m_BkBrush;
    RECT m_Rect;              /* drawing rectangle; left and top are 0 */
    CGraphBitmap m_Bitmap;    /* the picture the graph window shows */
    CGraphFont m_Font;        /* label font: bold Arial, 14 pixels */
    int m_nLines;             /* 0 to 4 */
    unsigned int m_nMaxSamples;   /* history bound */
    int m_nUnit;              /* step in pixels */
    int m_nMin;
    int m_nMax;
    int m_nGridPercent;
    int m_Widths[4];
    int m_nGridWidth;
    float m_fScaleY;          /* pixels per value unit */
    float m_fGridX;           /* vertical grid spacing in pixels */
    float m_fGridY;           /* horizontal grid spacing in pixels */
    DWORD m_dwLastDraw;       /* TkGetTickCount of Attach or the last drawing */
    bool m_bSuspended;        /* parent minimised or hidden */
    COLORREF m_GridColor;
    COLORREF m_BkColor;
    COLORREF m_Colors[4];
    CSampleHistory m_History[4];

    /* Pixels by which every graph's vertical grid lines stand left of their
     * unshifted places: one value for the process, advanced by DrawGrid. */
    static int s_nGridOffset;

private:
    CGraph() = delete;

    int Row(int v) const;
    void DrawLine(HDC dc, const CSampleHistory& history) const;
    int BelowHeight() const;
    void MakePicture(HDC windowDC, tk::FirstFailure& failure);
    void TakePictureOff();
    void ReleaseObjects();
    bool ReleaseForReplacement(CGdiObject& owner, tk::FirstFailure& failure);
    void TakeNew(CGdiObject& owner, HGDIOBJ object, tk::FirstFailure& failure);
    /* Gives every line's history room for one more sample under bound;
     * false when some history could not grow. */
    bool MakeRoom(unsigned bound);
    void LearnHistoryShape();
    void StoreInStep(int* pSamples, unsigned bound);
    HRESULT AddUnusually(int* pSamples, unsigned bound);

    bool m_bAttached;   /* has drawing objects of its own, from Attach */
    /* What the graph window shows for this graph: m_Bitmap, or the copy of
     * it that a control of the newer common controls may make; none while
     * the graph has given the window no picture. */
    HGDIOBJ m_hPicture;
    /* No history of a line has less room than this: Add with a bound
     * within it needs no growth. */
    unsigned m_nLeastCapacity;
    /* The line histories have one capacity, count and newest index. */
    bool m_bSameShape;
};

#endif
