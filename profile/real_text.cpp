/* real_text.cpp -- the text a settings profile writes for a real value. */
#include <cstdio>
#include <cstring>

#include "profile/real_text.h"

namespace tk {

void FormatReal(float value, char (&text)[kNumberTextLength + 1])
{
    /* The largest float has 39 digits before the point. */
    char fixed[64];
    int length = snprintf(fixed, sizeof fixed, "%10.5f", static_cast<double>(value));
    if (length > 0 && length <= kNumberTextLength) {
        memcpy(text, fixed, length + 1);
        return;
    }
    /* Nine significant digits tell every float apart; with a sign, point
     * and two-digit exponent they need at most 15 characters. */
    snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
}

}  // namespace tk
