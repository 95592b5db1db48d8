/* settings.h -- the example host's settings, kept in an INI file beside the
 * program. */
#ifndef TOOLS_EXAMPLES_SETTINGS_H
#define TOOLS_EXAMPLES_SETTINGS_H

#include <windows.h>

struct DemoSettings {
    int rounds;                 /* timed rounds, at least 1 */
    int delaysPerRound;         /* TkDelay calls in each round, at least 1 */
    COLORREF lineColours[4];    /* 0x00BBGGRR */
    COLORREF gridColour;
    COLORREF backgroundColour;
};

/* Reads section [Demo] of fileName beside the program. A key that is
 * missing or empty is written there with its default (creating the file on
 * the first run); a value that does not parse, or a count below 1, is
 * reported and replaced by the default for this run but left in the file.
 * Prints where the settings came from and what they are. */
DemoSettings LoadDemoSettings(const char* fileName);

#endif
