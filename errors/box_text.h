/* box_text.h -- the text of the report box, kept inside its buffer. */
#ifndef TOOLS_ERRORS_BOX_TEXT_H
#define TOOLS_ERRORS_BOX_TEXT_H

#include <stddef.h>

namespace tk {

/* Room for 511 characters of box text and the terminator. */
const size_t kBoxTextSize = 512;

/* Prints format into box (kBoxTextSize bytes). A text that does not fit is
 * cut after the last whole character that does, so that no double-byte
 * character of the current code page is split. */
void FormatBoxText(char* box, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));

/* For a type of exactly MB_YESNO, appends "\nContinue?\n". A text that
 * leaves no room for it loses its end (at a whole character) rather than
 * the question: the user must see what the buttons answer. Any other type
 * leaves box as it is. */
void AskToContinue(char* box, unsigned type);

/* Ends text after the last whole character that ends within limit bytes;
 * a lead byte whose trail byte is missing counts as no character. */
void CutAtCharacter(char* text, size_t limit);

}  // namespace tk

#endif
