/* recording_surface.h -- a drawing surface that paints nothing and keeps
 * every call with its arguments, hands out stand-in handles, keeps account
 * of what is made, selected and released, and fails calls on demand; and the
 * strokes of a drawing read back from the calls. */
#ifndef TOOLS_TESTS_SUPPORT_RECORDING_SURFACE_H
#define TOOLS_TESTS_SUPPORT_RECORDING_SURFACE_H

#include <windows.h>

#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "tools/graph.h"
#include "graph/graph_platform.h"

namespace tktest {

struct Call {
    std::string op;           /* the platform function's name, e.g. "LineTo" */
    std::vector<long> args;   /* its arguments, handles as numbers, in order */
    std::string text;         /* TextOutA's text, CreateFontA's face */
};

enum class Kind { Pen, Brush, Font, Bitmap, WindowDC, MemoryDC };

struct Recorder {
    std::vector<Call> calls;
    std::map<HANDLE, Call> origins;    /* the call that made each handle */
    DWORD now = 0;                     /* what the clock reads */
    std::map<HWND, RECT> windows;      /* client rectangles; others fail */

    /* Failures on demand: calls named here return none (last error
     * ERROR_NOT_ENOUGH_MEMORY); DeleteObject of these handles fails (last
     * error ERROR_BUSY); and every allocation fails. */
    std::set<std::string> failing;
    std::set<HGDIOBJ> undeletable;
    bool failAllocation = false;
    int allocationsBeforeFailing = -1;  /* then every allocation fails; -1: no limit */

    /* Accounts. */
    std::map<HANDLE, Kind> live;       /* made and not yet released */
    int made = 0;
    int released = 0;
    int badReleases = 0;               /* of a handle not live: twice, or never made */
    int releasedWhileSelected = 0;     /* objects and contexts given up in use */
    int shownWhileSelected = 0;        /* bitmaps given to a window while in a context */
    int allocations = 0;
    int frees = 0;
    std::map<HWND, LPARAM> pictures;   /* what each window shows (STM_SETIMAGE) */
    std::set<HWND> copyingWindows;     /* show a copy of the bitmap they are given */
    std::map<HDC, std::map<Kind, HGDIOBJ>> selected;
    std::map<HDC, int> bkMode;
    std::map<HDC, COLORREF> textColor;

    /* The calls of one name, in order. */
    std::vector<Call> Of(const std::string& op) const;
    /* The index in calls of the first call of op whose first argument is
     * handle (any call of op when handle is 0), or -1. */
    int IndexOf(const std::string& op, long handle = 0) const;
    /* The handles that calls of op made, oldest first. */
    std::vector<HGDIOBJ> Made(const std::string& op) const;
    /* The colour that a pen or brush was made of; kNoPen for any other. */
    COLORREF ColorOf(long handle) const;
};

extern const tk::GraphPlatform kRecordingSurface;

/* The one recorder behind kRecordingSurface. */
Recorder& Recording();

/* Every graph's platform calls go to the recorder, started anew, for the
 * life of this object: a member of a test's fixture. */
class RecordingScope {
public:
    RecordingScope();

private:
    tk::UsingPlatform<tk::GraphPlatform> use_;
};

/* A graph window of 400 x 300 whose bottom 20 pixels a second window
 * covers, as a status bar lies, and the clock at now. */
void WithStatusBar(DWORD now);

/* The stand-in handle of a kind of object that a new context starts with. */
HGDIOBJ StockOf(Kind kind);

inline long Num(const void* handle) { return static_cast<long>(reinterpret_cast<INT_PTR>(handle)); }

/* A graph on the recording surface, with the samples of its lines as its
 * histories hand them back. */
class RecordedGraph : public CGraph {
public:
    explicit RecordedGraph(int lines, HWND below = nullptr) : CGraph(lines, below) {}

    /* Line i's samples, newest first. */
    std::vector<int> Samples(int i) const
    {
        std::vector<int> samples;
        for (unsigned k = 0; k < m_History[i].Count(); ++k)
            samples.push_back(m_History[i].At(k));
        return samples;
    }
};

/* Moves the clock past the drawing interval, forgets the calls so far and
 * draws g: the calls recorded are then that drawing's. */
HRESULT DrawLater(CGraph& g);

/* A new graph's grid and line colours. */
const COLORREF kGrid = 0x408000, kGreen = 0x00FF00, kYellow = 0x00FFFF, kRed = 0x0000FF, kWhite = 0xFFFFFF;

/* One LineTo of the calls recorded: from the current position to its end, in
 * the colour of its pen (kNoPen for a context's own). */
struct Stroke {
    int x1, y1, x2, y2;
    COLORREF color;
    bool operator==(const Stroke& o) const
    {
        return x1 == o.x1 && y1 == o.y1 && x2 == o.x2 && y2 == o.y2 && color == o.color;
    }
};
std::ostream& operator<<(std::ostream& out, const Stroke& s);
const COLORREF kNoPen = CLR_INVALID;

/* The strokes recorded, all or those of one colour, in order. */
std::vector<Stroke> Strokes();
std::vector<Stroke> StrokesIn(COLORREF color);
/* The columns of the vertical and the rows of the horizontal strokes of one
 * colour, in order. */
std::vector<int> Columns(COLORREF color = kGrid);
std::vector<int> Rows(COLORREF color = kGrid);

/* Stand-in windows for the recorder. */
const HWND kGraphWindow = reinterpret_cast<HWND>(0x10010);
const HWND kOtherWindow = reinterpret_cast<HWND>(0x10020);
const HWND kBelowWindow = reinterpret_cast<HWND>(0x10030);

}  // namespace tktest

#endif
