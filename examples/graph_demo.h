/* graph_demo.h -- the live graph, shown by the example host. */
#ifndef TOOLS_EXAMPLES_GRAPH_DEMO_H
#define TOOLS_EXAMPLES_GRAPH_DEMO_H

#include <windows.h>

struct GraphDemoSettings {
    int rounds = 20;            /* timed rounds of TkDelay, at least 1 */
    int delaysPerRound = 1;     /* TkDelay calls in each round, at least 1 */
    COLORREF lineColours[4] = { 0x00FF00, 0x00FFFF, 0x0000FF, 0xFFFFFF };   /* 0x00BBGGRR */
    COLORREF gridColour = 0x408000;
    COLORREF backgroundColour = 0x000000;
    /* Rounds still running after this many milliseconds are left undone, so
     * that the demonstration ends in time where a round takes long. */
    DWORD budgetMs = 6000;
};

/* Opens a window with a chart of three lines and a status line, runs the
 * rounds on a second thread and, about every half second, plots how long one CPUID of
 * TkDelay took (nanoseconds) in the last half second, the running average
 * of those figures and the average of the last finished round. Draws for
 * at least 3 seconds and at most about the budget plus one round, saves the
 * window's client area as a 24-bit BMP file at picturePath, prints what it
 * did, and returns true when the chart was drawn and the picture written.
 * Runs unattended; needs a display (Xvfb will do). */
bool RunGraphDemo(const GraphDemoSettings& settings, const char* picturePath);

#endif
