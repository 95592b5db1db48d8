/* graph_platform.cpp -- the graph's platform operations over GDI and user32. */
#include "tools/runtime.h"
#include "base/allocation.h"
#include "graph/graph_platform.h"

namespace tk {

namespace {
DWORD Ticks() { return TkGetTickCount(); }
}  // namespace

/* The addresses of imports are read from the import table, so this table is
 * filled by the library's static set-up, before any host code runs; nothing
 * of the library draws a graph during that set-up. */
const GraphPlatform kSystemGraphPlatform = {
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
