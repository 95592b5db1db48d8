/* text.cpp -- case-insensitive search in multibyte text. */
#include <mbstring.h>
#include <windows.h>

#include "tools/util.h"

const char* TkStrStr(const char* text, const char* key)
{
    if (!text || !key || !*key)
        return text;
    const int k = lstrlenA(key);
    const int t = lstrlenA(text);
    const unsigned char* ukey = reinterpret_cast<const unsigned char*>(key);
    /* Step by characters, so the second byte of a double-byte character is
     * never taken for the start of a match. */
    for (const char* p = text; *p && p - text <= t - k; p = CharNextA(p)) {
        if (_mbsnbicmp(reinterpret_cast<const unsigned char*>(p), ukey, k) == 0)
            return p;
    }
    return text;
}
