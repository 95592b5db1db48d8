/* real_text.h -- the text a settings profile writes for a real value. */
#ifndef TOOLS_PROFILE_REAL_TEXT_H
#define TOOLS_PROFILE_REAL_TEXT_H

namespace tk {

/* A read of a number takes at most this many characters of its text. */
const int kNumberTextLength = 15;

/* "%10.5f" of value; when that would be longer than kNumberTextLength, nine
 * significant digits ("%.9g"), which fit and give back the same float. */
void FormatReal(float value, char (&text)[kNumberTextLength + 1]);

}  // namespace tk

#endif
