/* surface_gdi.cpp -- the drawing surface over GDI and user32. */
#include <stdlib.h>

#include "tools/runtime.h"
#include "graph/surface.h"

namespace tk {

namespace {
DWORD Ticks() { return TkGetTickCount(); }
void* Allocate(size_t bytes) { return malloc(bytes); }
void Release(void* block) { free(block); }
}  // namespace

/* The addresses of imports are read from the import table, so this table is
 * filled by the library's static set-up, before any host code runs; nothing
 * of the library draws a graph during that set-up. */
const GraphSurface kGdiSurface = {
    GetClientRect, GetDC, ReleaseDC, MoveWindow, SendMessageA,
    CreateCompatibleDC, DeleteDC, CreateCompatibleBitmap, CreateSolidBrush, CreatePen, CreateFontA,
    SelectObject, DeleteObject,
    PatBlt, MoveToEx, LineTo, PolylineTo, SetBkMode, SetTextColor, TextOutA,
    Ticks, Allocate, Release,
};

}  // namespace tk
