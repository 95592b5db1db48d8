/* recording_surface.cpp -- the recording drawing surface. */
#include "support/recording_surface.h"

#include <stdlib.h>

namespace tktest {

namespace {

Recorder* g_recorder = new Recorder;
long g_nextHandle = 0x40000;

Recorder& R() { return *g_recorder; }

void Record(const char* op, std::vector<long> args, const std::string& text = std::string())
{
    R().calls.push_back(Call{ op, std::move(args), text });
}

bool Fails(const char* op)
{
    if (!R().failing.count(op))
        return false;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return true;
}

HANDLE Make(Kind kind)
{
    HANDLE h = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(g_nextHandle));
    g_nextHandle += 4;
    R().live[h] = kind;
    R().origins[h] = R().calls.back();
    ++R().made;
    return h;
}

bool KindOf(HGDIOBJ object, Kind* kind)
{
    auto it = R().live.find(object);
    if (it != R().live.end()) {
        *kind = it->second;
        return true;
    }
    for (Kind k : { Kind::Pen, Kind::Brush, Kind::Font, Kind::Bitmap })
        if (StockOf(k) == object) {
            *kind = k;
            return true;
        }
    return false;
}

HGDIOBJ Selected(HDC dc, Kind kind)
{
    auto& in = R().selected[dc];
    auto it = in.find(kind);
    return it == in.end() ? StockOf(kind) : it->second;
}

bool IsSelectedAnywhere(HGDIOBJ object)
{
    for (auto& dc : R().selected)
        for (auto& entry : dc.second)
            if (entry.second == object)
                return true;
    return false;
}

/* A context given up while holding one of our objects. */
bool HoldsObjects(HDC dc)
{
    for (auto& entry : R().selected[dc])
        if (entry.second != StockOf(entry.first))
            return true;
    return false;
}

bool ReleaseContext(HDC dc, Kind kind)
{
    auto it = R().live.find(dc);
    if (it == R().live.end() || it->second != kind) {
        ++R().badReleases;
        return false;
    }
    if (HoldsObjects(dc))
        ++R().releasedWhileSelected;
    R().selected.erase(dc);
    R().live.erase(it);
    ++R().released;
    return true;
}

BOOL WINAPI RecGetClientRect(HWND window, RECT* rect)
{
    Record("GetClientRect", { Num(window) });
    auto it = R().windows.find(window);
    if (it == R().windows.end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    *rect = it->second;
    return TRUE;
}

HDC WINAPI RecGetDC(HWND window)
{
    Record("GetDC", { Num(window) });
    return Fails("GetDC") ? nullptr : static_cast<HDC>(Make(Kind::WindowDC));
}

int WINAPI RecReleaseDC(HWND window, HDC dc)
{
    Record("ReleaseDC", { Num(window), Num(dc) });
    return ReleaseContext(dc, Kind::WindowDC);
}

BOOL WINAPI RecMoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint)
{
    Record("MoveWindow", { Num(window), x, y, width, height, repaint });
    R().windows[window] = RECT{ 0, 0, width, height };
    return TRUE;
}

LRESULT WINAPI RecSendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Record("SendMessageA", { Num(window), static_cast<long>(message), static_cast<long>(wParam), static_cast<long>(lParam) });
    if (message == STM_GETIMAGE)
        return R().pictures[window];
    if (message != STM_SETIMAGE)
        return 0;
    LPARAM previous = R().pictures[window];
    if (lParam && IsSelectedAnywhere(reinterpret_cast<HGDIOBJ>(lParam)))
        ++R().shownWhileSelected;
    /* A copying control shows (and owns) a bitmap of its own. */
    if (lParam && R().copyingWindows.count(window))
        lParam = reinterpret_cast<LPARAM>(Make(Kind::Bitmap));
    R().pictures[window] = lParam;
    return previous;
}

HDC WINAPI RecCreateCompatibleDC(HDC dc)
{
    Record("CreateCompatibleDC", { Num(dc) });
    return Fails("CreateCompatibleDC") ? nullptr : static_cast<HDC>(Make(Kind::MemoryDC));
}

BOOL WINAPI RecDeleteDC(HDC dc)
{
    Record("DeleteDC", { Num(dc) });
    return ReleaseContext(dc, Kind::MemoryDC);
}

HBITMAP WINAPI RecCreateCompatibleBitmap(HDC dc, int width, int height)
{
    Record("CreateCompatibleBitmap", { Num(dc), width, height });
    if (Fails("CreateCompatibleBitmap"))
        return nullptr;
    return static_cast<HBITMAP>(Make(Kind::Bitmap));
}

HBRUSH WINAPI RecCreateSolidBrush(COLORREF color)
{
    Record("CreateSolidBrush", { static_cast<long>(color) });
    return Fails("CreateSolidBrush") ? nullptr : static_cast<HBRUSH>(Make(Kind::Brush));
}

HPEN WINAPI RecCreatePen(int style, int width, COLORREF color)
{
    Record("CreatePen", { style, width, static_cast<long>(color) });
    return Fails("CreatePen") ? nullptr : static_cast<HPEN>(Make(Kind::Pen));
}

HFONT WINAPI RecCreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                            DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision,
                            DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily, LPCSTR face)
{
    Record("CreateFontA",
           { height, width, escapement, orientation, weight, static_cast<long>(italic),
             static_cast<long>(underline), static_cast<long>(strikeOut), static_cast<long>(charSet),
             static_cast<long>(outPrecision), static_cast<long>(clipPrecision), static_cast<long>(quality),
             static_cast<long>(pitchAndFamily) },
           face);
    return Fails("CreateFontA") ? nullptr : static_cast<HFONT>(Make(Kind::Font));
}

HGDIOBJ WINAPI RecSelectObject(HDC dc, HGDIOBJ object)
{
    Record("SelectObject", { Num(dc), Num(object) });
    Kind kind;
    if (!R().live.count(dc) || !KindOf(object, &kind))
        return nullptr;
    HGDIOBJ previous = Selected(dc, kind);
    R().selected[dc][kind] = object;
    return previous;
}

BOOL WINAPI RecDeleteObject(HGDIOBJ object)
{
    Record("DeleteObject", { Num(object) });
    if (R().undeletable.count(object)) {
        SetLastError(ERROR_BUSY);
        return FALSE;
    }
    auto it = R().live.find(object);
    if (it == R().live.end()) {
        ++R().badReleases;
        return FALSE;
    }
    if (IsSelectedAnywhere(object))
        ++R().releasedWhileSelected;
    R().live.erase(it);
    ++R().released;
    return TRUE;
}

/* The painting calls carry what they paint with: PatBlt the selected brush
 * and bitmap, LineTo the selected pen, TextOutA the selected font, the text
 * colour and the background mode. */
BOOL WINAPI RecPatBlt(HDC dc, int x, int y, int width, int height, DWORD rop)
{
    Record("PatBlt", { Num(dc), x, y, width, height, static_cast<long>(rop), Num(Selected(dc, Kind::Brush)),
                       Num(Selected(dc, Kind::Bitmap)) });
    return TRUE;
}

BOOL WINAPI RecMoveToEx(HDC dc, int x, int y, POINT* previous)
{
    Record("MoveToEx", { Num(dc), x, y, Num(previous) });
    return TRUE;
}

BOOL WINAPI RecLineTo(HDC dc, int x, int y)
{
    Record("LineTo", { Num(dc), x, y, Num(Selected(dc, Kind::Pen)) });
    return TRUE;
}

/* Recorded as the LineTo calls it stands for, so that strokes read alike
 * whichever way they were drawn. */
BOOL WINAPI RecPolylineTo(HDC dc, const POINT* points, DWORD count)
{
    for (DWORD i = 0; i < count; ++i)
        RecLineTo(dc, points[i].x, points[i].y);
    return TRUE;
}

int WINAPI RecSetBkMode(HDC dc, int mode)
{
    Record("SetBkMode", { Num(dc), mode });
    int previous = R().bkMode.count(dc) ? R().bkMode[dc] : OPAQUE;
    R().bkMode[dc] = mode;
    return previous;
}

COLORREF WINAPI RecSetTextColor(HDC dc, COLORREF color)
{
    Record("SetTextColor", { Num(dc), static_cast<long>(color) });
    COLORREF previous = R().textColor.count(dc) ? R().textColor[dc] : 0;
    R().textColor[dc] = color;
    return previous;
}

BOOL WINAPI RecTextOutA(HDC dc, int x, int y, LPCSTR text, int length)
{
    Record("TextOutA",
           { Num(dc), x, y, length, Num(Selected(dc, Kind::Font)),
             static_cast<long>(R().textColor.count(dc) ? R().textColor[dc] : 0),
             R().bkMode.count(dc) ? R().bkMode[dc] : OPAQUE },
           std::string(text, length));
    return TRUE;
}

DWORD RecTickCount() { return R().now; }

void* RecAllocate(size_t bytes)
{
    if (R().failAllocation || R().allocationsBeforeFailing == 0)
        return nullptr;
    if (R().allocationsBeforeFailing > 0)
        --R().allocationsBeforeFailing;
    ++R().allocations;
    return malloc(bytes);
}

void RecRelease(void* block)
{
    ++R().frees;
    free(block);
}

}  // namespace

const tk::GraphPlatform kRecordingSurface = {
    RecGetClientRect, RecGetDC, RecReleaseDC, RecMoveWindow, RecSendMessageA,
    RecCreateCompatibleDC, RecDeleteDC, RecCreateCompatibleBitmap, RecCreateSolidBrush, RecCreatePen,
    RecCreateFontA, RecSelectObject, RecDeleteObject,
    RecPatBlt, RecMoveToEx, RecLineTo, RecPolylineTo, RecSetBkMode, RecSetTextColor, RecTextOutA,
    RecTickCount, RecAllocate, RecRelease,
};

HGDIOBJ StockOf(Kind kind)
{
    return reinterpret_cast<HGDIOBJ>(static_cast<INT_PTR>(0x100 + 4 * static_cast<int>(kind)));
}

Recorder& Recording() { return R(); }

RecordingScope::RecordingScope() : use_(tk::GraphSeam(), kRecordingSurface)
{
    delete g_recorder;
    g_recorder = new Recorder;
}

void WithStatusBar(DWORD now)
{
    Recording().windows[kGraphWindow] = RECT{ 0, 0, 400, 300 };
    Recording().windows[kBelowWindow] = RECT{ 0, 0, 400, 20 };
    Recording().now = now;
}

std::vector<Call> Recorder::Of(const std::string& op) const
{
    std::vector<Call> found;
    for (const Call& call : calls)
        if (call.op == op)
            found.push_back(call);
    return found;
}

int Recorder::IndexOf(const std::string& op, long handle) const
{
    for (size_t i = 0; i < calls.size(); ++i)
        if (calls[i].op == op && (handle == 0 || (!calls[i].args.empty() && calls[i].args[0] == handle)))
            return static_cast<int>(i);
    return -1;
}

std::vector<HGDIOBJ> Recorder::Made(const std::string& op) const
{
    /* Handles are numbered in the order they are made. */
    std::vector<HGDIOBJ> made;
    for (const auto& entry : origins)
        if (entry.second.op == op)
            made.push_back(entry.first);
    return made;
}

COLORREF Recorder::ColorOf(long handle) const
{
    auto it = origins.find(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(handle)));
    if (it == origins.end())
        return kNoPen;
    if (it->second.op == "CreatePen")
        return static_cast<COLORREF>(it->second.args[2]);
    if (it->second.op == "CreateSolidBrush")
        return static_cast<COLORREF>(it->second.args[0]);
    return kNoPen;
}

std::ostream& operator<<(std::ostream& out, const Stroke& s)
{
    return out << "(" << s.x1 << "," << s.y1 << ")-(" << s.x2 << "," << s.y2 << ") colour " << std::hex << s.color
               << std::dec;
}

std::vector<Stroke> Strokes()
{
    std::vector<Stroke> strokes;
    int x = 0, y = 0;
    for (const Call& c : R().calls) {
        if (c.op != "MoveToEx" && c.op != "LineTo")
            continue;
        int toX = static_cast<int>(c.args[1]), toY = static_cast<int>(c.args[2]);
        if (c.op == "LineTo")
            strokes.push_back(Stroke{ x, y, toX, toY, R().ColorOf(c.args[3]) });
        x = toX;
        y = toY;
    }
    return strokes;
}

std::vector<Stroke> StrokesIn(COLORREF color)
{
    std::vector<Stroke> found;
    for (const Stroke& s : Strokes())
        if (s.color == color)
            found.push_back(s);
    return found;
}

std::vector<int> Columns(COLORREF color)
{
    std::vector<int> columns;
    for (const Stroke& s : StrokesIn(color))
        if (s.x1 == s.x2 && s.y1 != s.y2)
            columns.push_back(s.x1);
    return columns;
}

std::vector<int> Rows(COLORREF color)
{
    std::vector<int> rows;
    for (const Stroke& s : StrokesIn(color))
        if (s.y1 == s.y2 && s.x1 != s.x2)
            rows.push_back(s.y1);
    return rows;
}

HRESULT DrawLater(CGraph& g)
{
    R().now += 500;
    R().calls.clear();
    return g.Draw();
}

}  // namespace tktest
