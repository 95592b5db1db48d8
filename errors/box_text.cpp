/* box_text.cpp -- the text of the report box, kept inside its buffer. */
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <windows.h>

#include "errors/box_text.h"

namespace tk {

namespace {
const char kQuestion[] = "\nContinue?\n";
}  // namespace

void CutAtCharacter(char* text, size_t limit)
{
    char* end = text;
    while (*end) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*end)) && !end[1])
            break;
        char* next = CharNextA(end);
        if (static_cast<size_t>(next - text) > limit)
            break;
        end = next;
    }
    *end = '\0';
}

void FormatBoxText(char* box, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int wanted = vsnprintf(box, kBoxTextSize, format, args);
    va_end(args);
    if (wanted < 0) {
        box[0] = '\0';
        return;
    }
    if (static_cast<size_t>(wanted) >= kBoxTextSize)
        CutAtCharacter(box, kBoxTextSize - 1);
}

void AskToContinue(char* box, unsigned type)
{
    if (type != MB_YESNO)
        return;
    const size_t room = kBoxTextSize - sizeof kQuestion;
    if (strlen(box) > room)
        CutAtCharacter(box, room);
    strcat(box, kQuestion);
}

}  // namespace tk
