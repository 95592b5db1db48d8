/* settings.cpp -- the example host's settings, read through CProfile. */
#include <stdio.h>
#include <stdlib.h>

#include "tools/profile.h"
#include "settings.h"

namespace {

const char kSection[] = "Demo";

struct Reader {
    CProfile profile;
    int written;

    /* The key's text; empty when the key is missing. */
    bool Read(const char* key, char (&text)[32])
    {
        unsigned long size = sizeof text;
        return profile.QueryValue(text, key, &size) == S_OK && size > 0;
    }

    void WriteDefault(const char* key, const char* text)
    {
        if (profile.SetValue(text, key) == S_OK)
            ++written;
        else
            printf("  could not write %s=%s to %s (error %lu)\n", key, text, profile.Path(), GetLastError());
    }

    /* An integer of at least 1 in base 0 (decimal, 0x hexadecimal). */
    int Count(const char* key, int fallback)
    {
        char text[32];
        if (!Read(key, text)) {
            char number[16];
            snprintf(number, sizeof number, "%d", fallback);
            WriteDefault(key, number);
            return fallback;
        }
        char* end;
        long value = strtol(text, &end, 0);
        if (*end || value < 1) {
            printf("  %s=%s is no count of at least 1; using %d\n", key, text, fallback);
            return fallback;
        }
        return static_cast<int>(value);
    }

    /* A colour 0x00BBGGRR, kept as hexadecimal text. */
    COLORREF Colour(const char* key, COLORREF fallback)
    {
        char text[32];
        if (!Read(key, text)) {
            char hex[16];
            snprintf(hex, sizeof hex, "0x%06lX", static_cast<unsigned long>(fallback));
            WriteDefault(key, hex);
            return fallback;
        }
        char* end;
        unsigned long value = strtoul(text, &end, 0);
        if (*end || value > 0xFFFFFF) {
            printf("  %s=%s is no colour 0x00BBGGRR; using 0x%06lX\n", key, text,
                   static_cast<unsigned long>(fallback));
            return fallback;
        }
        return static_cast<COLORREF>(value);
    }
};

}  // namespace

DemoSettings LoadDemoSettings(const char* fileName)
{
    Reader reader = { CProfile(fileName), 0 };
    reader.profile.Open(kSection);

    DemoSettings s;
    s.rounds = reader.Count("Rounds", 20);
    s.delaysPerRound = reader.Count("DelaysPerRound", 1);
    const COLORREF lines[4] = { 0x00FF00, 0x00FFFF, 0x0000FF, 0xFFFFFF };
    for (int i = 0; i < 4; ++i) {
        char key[8];
        snprintf(key, sizeof key, "Line%d", i + 1);
        s.lineColours[i] = reader.Colour(key, lines[i]);
    }
    s.gridColour = reader.Colour("Grid", 0x408000);
    s.backgroundColour = reader.Colour("Background", 0x000000);

    printf("Settings from [%s] of %s", kSection, reader.profile.Path());
    if (reader.written)
        printf(" (%d default%s written)", reader.written, reader.written == 1 ? "" : "s");
    printf(":\n  %d rounds, %d delay%s per round; lines 0x%06lX 0x%06lX 0x%06lX 0x%06lX, grid 0x%06lX, "
           "background 0x%06lX\n",
           s.rounds, s.delaysPerRound, s.delaysPerRound == 1 ? "" : "s",
           static_cast<unsigned long>(s.lineColours[0]), static_cast<unsigned long>(s.lineColours[1]),
           static_cast<unsigned long>(s.lineColours[2]), static_cast<unsigned long>(s.lineColours[3]),
           static_cast<unsigned long>(s.gridColour), static_cast<unsigned long>(s.backgroundColour));
    return s;
}
