/* eh_table.cpp -- reading GCC's exception tables as its personality routine
 * does, for one question: where does a CRunTimeException* thrown here go? */
#include <string.h>

#include <typeinfo>

#include "faults/eh_table.h"

namespace tk {

namespace {

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

FrameVerdict JudgeFrame(const unsigned char* lsda, DWORD_PTR regionStart, DWORD_PTR pc)
{
    const unsigned char* p = lsda;
    /* The landing pads' base: only whether a site has a pad matters here. */
    DWORD_PTR landingBase;
    unsigned char encoding = *p++;
    if (encoding != kOmittedPointer && !ReadEncoded(&p, encoding, &landingBase))
        return FrameVerdict::kPasses;
    const unsigned char typeEncoding = *p++;
    const unsigned char* types = nullptr;
    if (typeEncoding != kOmittedPointer) {
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
                const size_t size = EncodedSize(typeEncoding);
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
