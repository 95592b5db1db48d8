/* pointer_encoding.cpp -- the numbers and pointers of GCC's unwind and
 * exception tables. */
#include "frames/pointer_encoding.h"

namespace tk {

namespace {

/* The DW_EH_PE_* encodings. */
const unsigned char kFormatMask = 0x0F;
const unsigned char kAbsolute = 0x00, kUleb = 0x01, kUdata2 = 0x02, kUdata4 = 0x03, kUdata8 = 0x04;
const unsigned char kSleb = 0x09, kSdata2 = 0x0A, kSdata4 = 0x0B, kSdata8 = 0x0C;
const unsigned char kApplicationMask = 0x70, kPcRelative = 0x10;
const unsigned char kIndirect = 0x80;

/* The bits of a LEB128 number, the count of bits it carried and its last
 * byte, whose 0x40 bit is the sign of a signed one. */
DWORD_PTR ReadLeb(const unsigned char** p, unsigned* shift, unsigned char* last)
{
    DWORD_PTR value = 0;
    unsigned char byte;
    *shift = 0;
    do {
        byte = *(*p)++;
        if (*shift < 8 * sizeof value)
            value |= static_cast<DWORD_PTR>(byte & 0x7F) << *shift;
        *shift += 7;
    } while (byte & 0x80);
    *last = byte;
    return value;
}

}  // namespace

DWORD_PTR ReadUleb(const unsigned char** p)
{
    unsigned shift;
    unsigned char last;
    return ReadLeb(p, &shift, &last);
}

LONG_PTR ReadSleb(const unsigned char** p)
{
    unsigned shift;
    unsigned char last;
    DWORD_PTR value = ReadLeb(p, &shift, &last);
    if (shift < 8 * sizeof value && (last & 0x40))
        value |= ~static_cast<DWORD_PTR>(0) << shift;
    return static_cast<LONG_PTR>(value);
}

bool ReadEncoded(const unsigned char** p, unsigned char encoding, DWORD_PTR* value)
{
    const unsigned char* at = *p;
    DWORD_PTR raw;
    switch (encoding & kFormatMask) {
    case kAbsolute: raw = LoadUnaligned<DWORD_PTR>(at); *p += sizeof(DWORD_PTR); break;
    case kUleb: raw = ReadUleb(p); break;
    case kSleb: raw = static_cast<DWORD_PTR>(ReadSleb(p)); break;
    case kUdata2: raw = LoadUnaligned<unsigned short>(at); *p += 2; break;
    case kSdata2: raw = static_cast<DWORD_PTR>(static_cast<LONG_PTR>(LoadUnaligned<short>(at))); *p += 2; break;
    case kUdata4: raw = LoadUnaligned<unsigned int>(at); *p += 4; break;
    case kSdata4: raw = static_cast<DWORD_PTR>(static_cast<LONG_PTR>(LoadUnaligned<int>(at))); *p += 4; break;
    case kUdata8: raw = static_cast<DWORD_PTR>(LoadUnaligned<unsigned long long>(at)); *p += 8; break;
    case kSdata8: raw = static_cast<DWORD_PTR>(LoadUnaligned<long long>(at)); *p += 8; break;
    default: return false;
    }
    if ((encoding & kApplicationMask) != 0 && (encoding & kApplicationMask) != kPcRelative)
        return false;
    /* A zero stays zero, relative or not: the type entry of a catch (...),
     * for one, which names no type. */
    if (raw && (encoding & kApplicationMask) == kPcRelative)
        raw += reinterpret_cast<DWORD_PTR>(at);
    if (raw && (encoding & kIndirect))
        raw = *reinterpret_cast<const DWORD_PTR*>(raw);
    *value = raw;
    return true;
}

size_t EncodedSize(unsigned char encoding)
{
    switch (encoding & kFormatMask) {
    case kAbsolute: return sizeof(void*);
    case kUdata2: case kSdata2: return 2;
    case kUdata4: case kSdata4: return 4;
    case kUdata8: case kSdata8: return 8;
    }
    return 0;
}

}  // namespace tk
