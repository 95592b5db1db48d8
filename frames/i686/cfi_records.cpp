/* cfi_records.cpp (i686) -- common information entries, read within their
 * bounds. */
#include <string.h>

#include "frames/pointer_encoding.h"
#include "frames/i686/cfi_records.h"

namespace tk {

namespace {

/* DWARF's number of the return address column on x86. */
const int kReturnColumn = 8;

}  // namespace

bool LebFits(const unsigned char* p, const unsigned char* limit)
{
    for (; p < limit; ++p)
        if (!(*p & 0x80))
            return true;
    return false;
}

bool EncodedFits(const unsigned char* p, const unsigned char* limit, unsigned char encoding)
{
    if (encoding & 0x80)
        return false;
    switch (encoding & 0x0F) {
    case 0x00: return limit - p >= static_cast<ptrdiff_t>(sizeof(DWORD_PTR));
    case 0x01: case 0x09: return LebFits(p, limit);
    case 0x02: case 0x0A: return limit - p >= 2;
    case 0x03: case 0x0B: return limit - p >= 4;
    case 0x04: case 0x0C: return limit - p >= 8;
    }
    return false;
}

bool ParseCie(const unsigned char* cie, const unsigned char* limit, Cie* out)
{
    if (limit - cie < 9)
        return false;
    const unsigned char* p = cie + 4;
    const DWORD length = LoadUnaligned<DWORD>(cie);
    if (length > static_cast<DWORD>(limit - p))
        return false;
    const unsigned char* end = p + length;
    p += 4;   /* CIE id */
    const unsigned char version = *p++;
    const char* augmentation = reinterpret_cast<const char*>(p);
    const unsigned char* terminator = static_cast<const unsigned char*>(memchr(p, 0, end - p));
    if (!terminator)
        return false;
    p = terminator + 1;
    if (!LebFits(p, end))
        return false;
    out->codeAlign = ReadUleb(&p);
    if (!LebFits(p, end))
        return false;
    out->dataAlign = ReadSleb(&p);
    if (version == 1) {
        if (p >= end)
            return false;
        out->returnColumn = *p++;
    } else {
        if (!LebFits(p, end))
            return false;
        out->returnColumn = static_cast<int>(ReadUleb(&p));
    }
    out->fdeEncoding = 0;
    out->hasAugmentationData = augmentation[0] == 'z';
    out->hasLsda = false;
    out->personality = 0;
    if (out->hasAugmentationData) {
        if (!LebFits(p, end))
            return false;
        const DWORD_PTR length = ReadUleb(&p);
        if (length > static_cast<DWORD_PTR>(end - p))
            return false;
        const unsigned char* data = p;
        const unsigned char* dataEnd = p + length;
        for (const char* a = augmentation + 1; *a; ++a) {
            if (data >= dataEnd)
                return false;
            if (*a == 'R') {
                out->fdeEncoding = *data++;
            } else if (*a == 'L') {
                out->lsdaEncoding = *data++;
                out->hasLsda = true;
            } else if (*a == 'P') {
                const unsigned char encoding = *data++;
                if (!EncodedFits(data, dataEnd, encoding & 0x7F))
                    return false;
                if (!ReadEncoded(&data, encoding, &out->personality))
                    return false;
            } else if (*a != 'S') {
                return false;
            }
        }
        p = dataEnd;
    } else if (augmentation[0]) {
        return false;
    }
    out->instructions = p;
    out->end = end;
    return out->returnColumn == kReturnColumn;
}

}  // namespace tk
