/* hex.h -- bytes as hexadecimal, so that a failed check on random texts
 * shows every byte, the unprintable ones too. */
#ifndef TOOLS_TESTS_SUPPORT_HEX_H
#define TOOLS_TESTS_SUPPORT_HEX_H

#include <string>

namespace tktest {

inline std::string Hex(const std::string& s)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
        out += ' ';
    }
    return out;
}

}  // namespace tktest

#endif
