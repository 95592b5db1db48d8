/* graph_platform.cpp -- the graph's platform operations over GDI and user32. */
#include "tools/runtime.h"
#include "base/allocation.h"
#include "graph/graph_platform.h"

namespace tk {

namespace {
DWORD Ticks() { return TkGetTickCount(); }
}  // namespace

constexpr GraphPlatform kSystemGraphPlatform = {
    GetClientRect, GetDC, ReleaseDC, MoveWindow, SendMessageA,
    CreateCompatibleDC, DeleteDC, CreateCompatibleBitmap, CreateSolidBrush, CreatePen, CreateFontA,
    SelectObject, DeleteObject,
    PatBlt, MoveToEx, LineTo, PolylineTo, SetBkMode, SetTextColor, TextOutA,
    Ticks, Allocate, Release,
};

namespace {
Seam<GraphPlatform> g_seam(kSystemGraphPlatform);
}  // namespace

Seam<GraphPlatform>& GraphSeam() { return g_seam; }

}  // namespace tk
