/* graph_platform.h -- every platform operation that the live graph makes,
 * so that its logic runs unchanged over GDI or over a target that records
 * the calls. The clock and the memory of the histories come through the same
 * table, so that tests can set the time and make growth fail. */
#ifndef TOOLS_GRAPH_GRAPH_PLATFORM_H
#define TOOLS_GRAPH_GRAPH_PLATFORM_H

#include <stddef.h>
#include <windows.h>

#include "base/seam.h"

namespace tk {

struct GraphPlatform {
    /* Windows: client rectangles (left and top 0), drawing contexts on the
     * client area, moving, and the picture of a static control. */
    BOOL (WINAPI* getClientRect)(HWND window, RECT* rect);
    HDC (WINAPI* getDC)(HWND window);
    int (WINAPI* releaseDC)(HWND window, HDC dc);
    BOOL (WINAPI* moveWindow)(HWND window, int x, int y, int width, int height, BOOL repaint);
    LRESULT (WINAPI* sendMessageA)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    /* Objects: made, selected (the replaced object comes back) and released
     * (non-zero on success). */
    HDC (WINAPI* createCompatibleDC)(HDC dc);
    BOOL (WINAPI* deleteDC)(HDC dc);
    HBITMAP (WINAPI* createCompatibleBitmap)(HDC dc, int width, int height);
    HBRUSH (WINAPI* createSolidBrush)(COLORREF color);
    HPEN (WINAPI* createPen)(int style, int width, COLORREF color);
    HFONT (WINAPI* createFontA)(int height, int width, int escapement, int orientation, int weight,
                                DWORD italic, DWORD underline, DWORD strikeOut, DWORD charSet,
                                DWORD outPrecision, DWORD clipPrecision, DWORD quality,
                                DWORD pitchAndFamily, LPCSTR face);
    HGDIOBJ (WINAPI* selectObject)(HDC dc, HGDIOBJ object);
    BOOL (WINAPI* deleteObject)(HGDIOBJ object);

    /* Painting: a fill with the current brush (end excluded), lines with the
     * current pen up to but not including their end, and text in the
     * current font with the top left of its first cell at (x, y). */
    BOOL (WINAPI* patBlt)(HDC dc, int x, int y, int width, int height, DWORD rop);
    BOOL (WINAPI* moveToEx)(HDC dc, int x, int y, POINT* previous);
    BOOL (WINAPI* lineTo)(HDC dc, int x, int y);
    /* As one LineTo to each point in turn, in one call. */
    BOOL (WINAPI* polylineTo)(HDC dc, const POINT* points, DWORD count);
    int (WINAPI* setBkMode)(HDC dc, int mode);
    COLORREF (WINAPI* setTextColor)(HDC dc, COLORREF color);
    BOOL (WINAPI* textOutA)(HDC dc, int x, int y, LPCSTR text, int length);

    /* The millisecond clock (TkGetTickCount). */
    DWORD (*tickCount)();

    /* The histories' memory, malloc and free alike. */
    void* (*allocate)(size_t bytes);
    void (*release)(void* block);
};

/* The real target: GDI and user32 on the caller's windows. */
extern const GraphPlatform kSystemGraphPlatform;

Seam<GraphPlatform>& GraphSeam();

}  // namespace tk

#endif
