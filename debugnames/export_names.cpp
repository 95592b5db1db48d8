/* export_names.cpp -- function names from the export table. */
#include <algorithm>

#include "debugnames/export_names.h"

namespace tk {

namespace {

const uint16_t kAmd64 = 0x8664;
const unsigned kRuntimeFunctionSize = 12;
const unsigned kChainInfo = 0x4;
/* A chain of continued functions longer than this is damaged. */
const int kMostChainedEntries = 8;

struct Function {
    uint32_t begin, end, unwind;
};

bool ReadFunction(ByteRange image, uint64_t at, Function* function)
{
    ByteReader reader(image, at);
    function->begin = reader.U32();
    function->end = reader.U32();
    function->unwind = reader.U32();
    return !reader.Failed();
}

/* The .pdata entry whose range holds rva; false when none does. */
bool FunctionAt(ByteRange image, const PeHeaders& headers, uint64_t rva, Function* function)
{
    const PeHeaders::Directory& table = headers.exceptions;
    if (table.rva > image.size || table.size > image.size - table.rva)
        return false;
    size_t low = 0, high = table.size / kRuntimeFunctionSize;
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        Function candidate;
        if (!ReadFunction(image, table.rva + middle * kRuntimeFunctionSize, &candidate))
            return false;
        if (candidate.begin <= rva)
            low = middle + 1;
        else
            high = middle;
    }
    return low > 0 && ReadFunction(image, table.rva + (low - 1) * kRuntimeFunctionSize, function) &&
        rva >= function->begin && rva < function->end;
}

/* The entry that a continued entry's unwind information names, after the
 * unwind codes (a count kept even); false when it continues none. */
bool Continued(ByteRange image, const Function& function, Function* primary)
{
    ByteReader unwind(image, function.unwind);
    const unsigned flags = unwind.U8() >> 3;
    unwind.U8();   /* size of prologue */
    const unsigned codes = unwind.U8();
    if (unwind.Failed() || !(flags & kChainInfo))
        return false;
    return ReadFunction(image, function.unwind + 4 + ((codes + 1u) & ~1u) * 2, primary);
}

}  // namespace

bool ExportNames::Build(ByteRange image, const PeHeaders& headers, Reallocate reallocate, Release release)
{
    Clear(release);
    const PeHeaders::Directory& directory = headers.exports;
    /* Past the flags, time stamp, version, name and ordinal base. */
    ByteReader table(image, directory.rva);
    table.Skip(20);
    const uint32_t functionCount = table.U32();
    const uint32_t nameCount = table.U32();
    const uint32_t functions = table.U32();
    const uint32_t names = table.U32();
    const uint32_t ordinals = table.U32();
    if (!directory.rva || table.Failed())
        return true;
    ByteReader nameRvas(image, names);
    ByteReader nameOrdinals(image, ordinals);
    for (uint32_t i = 0; i < nameCount; ++i) {
        const uint32_t name = nameRvas.U32();
        const uint32_t ordinal = nameOrdinals.U16();
        if (nameRvas.Failed() || nameOrdinals.Failed())
            break;
        ByteReader address(image, functions + static_cast<uint64_t>(ordinal) * 4);
        const uint32_t rva = address.U32();
        const bool forwarder = rva >= directory.rva && rva - directory.rva < directory.size;
        if (ordinal >= functionCount || address.Failed() || forwarder || !rva || !SectionText(image, name))
            continue;
        Export* kept = exports_.Append(reallocate);
        if (!kept) {
            Clear(release);
            return false;
        }
        *kept = Export{ rva, name };
    }
    std::stable_sort(exports_.items, exports_.items + exports_.count,
                     [](const Export& a, const Export& b) { return a.rva < b.rva; });
    return true;
}

void ExportNames::Clear(Release release) { exports_.Clear(release); }

const ExportNames::Export* ExportNames::Nearest(uint64_t rva, uint64_t low) const
{
    const Export* begin = exports_.items;
    const Export* end = begin + exports_.count;
    const Export* after = std::upper_bound(begin, end, rva, [](uint64_t value, const Export& e) { return value < e.rva; });
    return after != begin && after[-1].rva >= low ? &after[-1] : nullptr;
}

const char* ExportNames::Find(ByteRange image, const PeHeaders& headers, uint64_t rva) const
{
    if (headers.machine != kAmd64) {
        const Export* found = Nearest(rva, 0);
        return found ? SectionText(image, found->name) : nullptr;
    }
    Function function;
    if (!FunctionAt(image, headers, rva, &function))
        return nullptr;
    /* A continued entry (code moved out of line) belongs to the function
     * its chain starts from. */
    uint64_t at = rva;
    for (int hop = 0; hop <= kMostChainedEntries; ++hop) {
        const Export* found = Nearest(at, function.begin);
        if (found)
            return SectionText(image, found->name);
        Function primary;
        if (!Continued(image, function, &primary) || primary.end == 0)
            return nullptr;
        function = primary;
        at = primary.end - 1;
    }
    return nullptr;
}

}  // namespace tk
