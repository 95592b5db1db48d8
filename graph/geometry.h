/* factors.h -- the graph's derived values from its drawing rectangle. */
#ifndef TOOLS_GRAPH_FACTORS_H
#define TOOLS_GRAPH_FACTORS_H

#include <windows.h>

namespace tk {

/* GDI takes coordinates of 27 bits. Vertical grid lines lie 12 steps apart
 * after Attach, or 4 x the grid unit apart after SetGridUnit; spacings and
 * the grid's scroll offset beyond 27 bits would also overflow the drawing's
 * int arithmetic, so larger steps and grid units are refused. */
const int kMostCoordinate = 0x7FFFFFF;
const int kMostUnit = kMostCoordinate / 12;
const int kMostGridUnit = kMostCoordinate / 4;

/* x87 arithmetic keeps intermediates wider than their type; a store through
 * a volatile rounds to single precision, as the factors and the grid's row
 * positions require. */
inline float RoundToFloat(double value)
{
    volatile float rounded = static_cast<float>(value);
    return rounded;
}

/* Pixels per value unit. The range is taken in double, so that one as wide
 * as INT_MIN to INT_MAX does not overflow. */
inline float ScaleY(const RECT& rect, int min, int max)
{
    return RoundToFloat((rect.bottom - rect.top - 1) / (static_cast<double>(max) - min));
}

/* Spacing of the horizontal grid lines: percent of the drawing height, with
 * 0.01 as the single-precision constant. */
inline float GridY(const RECT& rect, int percent)
{
    return RoundToFloat(static_cast<double>(rect.bottom - rect.top - 1) * percent * static_cast<double>(0.01f));
}

/* Samples kept per line: the steps across the rectangle (step at least 1). */
inline unsigned Bound(const RECT& rect, int unit)
{
    return static_cast<unsigned>((rect.right - rect.left) / unit);
}

}  // namespace tk

#endif
