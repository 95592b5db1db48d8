/* eh_table.cpp -- reading GCC's exception tables as its personality routine
 * does, for one question: where does a CRunTimeException* thrown here go? */
#include <string.h>

#include <typeinfo>

#include "faults/eh_table.h"

namespace tk {

namespace {

/* The DW_EH_PE_* encodings of exception tables. */
const unsigned char kOmit = 0xFF;
const unsigned char kFormatMask = 0x0F;
const unsigned char kAbsolute = 0x00, kUleb = 0x01, kUdata2 = 0x02, kUdata4 = 0x03, kUdata8 = 0x04;
const unsigned char kSleb = 0x09, kSdata2 = 0x0A, kSdata4 = 0x0B, kSdata8 = 0x0C;
const unsigned char kApplicationMask = 0x70, kPcRelative = 0x10;
const unsigned char kIndirect = 0x80;

/* Bytes of one entry of the type table in the given encoding; 0 for a
 * variable-length one, which the type table never uses. */
size_t EntrySize(unsigned char encoding)
{
    switch (encoding & kFormatMask) {
    case kAbsolute: return sizeof(void*);
    case kUdata2: case kSdata2: return 2;
    case kUdata4: case kSdata4: return 4;
    case kUdata8: case kSdata8: return 8;
    }
    return 0;
}

/* The pointer types whose catch clauses take a CRunTimeException*: the
 * class itself, its base, and void, each maybe const. GCC's type names are
 * the mangled types. */
bool CatchesRunTimeException(const std::type_info* type)
{
    if (!type)
        return true;   /* catch (...) */
    static const char* const kTaken[] = { "P17CRunTimeException", "PK17CRunTimeException", "P10CException",
                                          "PK10CException", "Pv", "PKv" };
    const char* name = type->name();
    for (const char* taken : kTaken)
        if (!strcmp(name, taken))
            return true;
    return false;
}

}  // namespace

namespace {

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

FrameVerdict JudgeFrame(const unsigned char* lsda, DWORD_PTR regionStart, DWORD_PTR pc)
{
    const unsigned char* p = lsda;
    /* The landing pads' base: only whether a site has a pad matters here. */
    DWORD_PTR landingBase;
    unsigned char encoding = *p++;
    if (encoding != kOmit && !ReadEncoded(&p, encoding, &landingBase))
        return FrameVerdict::kPasses;
    const unsigned char typeEncoding = *p++;
    const unsigned char* types = nullptr;
    if (typeEncoding != kOmit) {
        DWORD_PTR offset = ReadUleb(&p);
        types = p + offset;
    }
    const unsigned char siteEncoding = *p++;
    const DWORD_PTR sitesLength = ReadUleb(&p);
    const unsigned char* sitesEnd = p + sitesLength;
    const unsigned char* actions = sitesEnd;

    /* The sites are sorted by start; an address before the next start, or
     * past the last site, is in none. */
    while (p < sitesEnd) {
        DWORD_PTR start, length, landing;
        if (!ReadEncoded(&p, siteEncoding, &start) || !ReadEncoded(&p, siteEncoding, &length) ||
            !ReadEncoded(&p, siteEncoding, &landing))
            return FrameVerdict::kPasses;
        DWORD_PTR action = ReadUleb(&p);
        if (pc < regionStart + start)
            break;
        if (pc >= regionStart + start + length)
            continue;
        if (!landing || !action)
            return FrameVerdict::kPasses;   /* nothing, or cleanups only */
        const unsigned char* record = actions + action - 1;
        for (;;) {
            LONG_PTR filter = ReadSleb(&record);
            const unsigned char* next = record;
            LONG_PTR displacement = ReadSleb(&record);
            if (filter > 0) {
                const size_t size = EntrySize(typeEncoding);
                if (!types || !size)
                    return FrameVerdict::kPasses;
                const unsigned char* entry = types - static_cast<DWORD_PTR>(filter) * size;
                DWORD_PTR type;
                if (!ReadEncoded(&entry, typeEncoding, &type))
                    return FrameVerdict::kPasses;
                if (CatchesRunTimeException(reinterpret_cast<const std::type_info*>(type)))
                    return FrameVerdict::kCatches;
            } else if (filter < 0) {
                /* The list of a throw(...) clause: what it lets through is
                 * not worth the reading; a translated fault never gets past
                 * one on this road. */
                return FrameVerdict::kTerminates;
            }
            if (!displacement)
                return FrameVerdict::kPasses;
            record = next + displacement;
        }
    }
    return FrameVerdict::kTerminates;
}

}  // namespace tk
