/* name_index.cpp -- the functions at an address, from a module's DWARF. */
#include <string.h>

#include <algorithm>
#include <new>

#include "debuginfo/address_spans.h"
#include "debuginfo/dwarf_line.h"
#include "debugnames/name_index.h"
#include "debugnames/range_list.h"

namespace tk {

namespace {

enum Tag : unsigned { kClass = 0x02, kStructure = 0x13, kUnion = 0x17, kNamespace = 0x39 };

/* Appends text to the buffer of size bytes that holds used of them, cut to
 * fit; the buffer stays terminated. */
void Append(char* buffer, size_t size, size_t* used, const char* text)
{
    const size_t length = strlen(text);
    const size_t room = size - 1 - *used;
    const size_t taken = length < room ? length : room;
    memcpy(buffer + *used, text, taken);
    *used += taken;
    buffer[*used] = '\0';
}

const char* Unnamed(unsigned tag)
{
    switch (tag) {
    case kNamespace: return "(anonymous namespace)";
    case kClass: return "(anonymous class)";
    case kStructure: return "(anonymous struct)";
    case kUnion: return "(anonymous union)";
    default: return "(anonymous)";
    }
}

}  // namespace

bool NameIndex::Build(const DebugSections& sections, uint64_t imageBase, Reallocate reallocate, Release release)
{
    Clear();
    reallocate_ = reallocate;
    release_ = release;
    imageBase_ = imageBase;
    outOfMemory_ = false;
    if (sections.info.size > UINT32_MAX)
        return true;
    for (uint64_t offset = 0; offset < sections.info.size;) {
        UnitHeader header;
        uint64_t next = 0;
        if (ReadUnitHeader(sections.info, offset, &header, &next)) {
            Unit* unit = units_.Append(reallocate);
            if (!unit) {
                Clear();
                return false;
            }
            *unit = Unit{ static_cast<uint32_t>(offset), static_cast<uint32_t>(header.end), nullptr, kUnread, false };
        }
        offset = next;
    }
    if (!PrepareAbbreviations(sections.info, abbrevs_, reallocate, release) || !MapFromAranges(sections) ||
        !MapFromUnits(sections)) {
        Clear();
        return false;
    }
    std::sort(spans_.items, spans_.items + spans_.count, [](const Span& a, const Span& b) { return a.low < b.low; });
    EmptyOverlaps(spans_.items, spans_.count);
    return true;
}

void NameIndex::Clear()
{
    for (int i = 0; i < units_.count; ++i)
        if (units_.items[i].functions) {
            units_.items[i].functions->Clear(release_);
            units_.items[i].functions->~UnitFunctions();
            release_(units_.items[i].functions);
        }
    if (release_) {
        units_.Clear(release_);
        spans_.Clear(release_);
        abbrevs_.Clear(release_);
    }
}

void NameIndex::AddSpan(void* context, uint64_t low, uint64_t high)
{
    NameIndex* index = static_cast<NameIndex*>(context);
    if (low < index->imageBase_ || high - index->imageBase_ > UINT32_MAX || index->outOfMemory_)
        return;
    Span* span = index->spans_.Append(index->reallocate_);
    if (!span) {
        index->outOfMemory_ = true;
        return;
    }
    *span = Span{ static_cast<uint32_t>(low - index->imageBase_), static_cast<uint32_t>(high - index->imageBase_),
                  index->spanUnit_ };
}

/* Each set of .debug_aranges: its header, then pairs of address and
 * length, aligned to twice the address size from the set's start, up to
 * a pair of zeros. */
bool NameIndex::MapFromAranges(const DebugSections& sections)
{
    ByteReader sets(sections.aranges);
    while (!sets.Failed() && !sets.AtEnd()) {
        const unsigned char* start = sets.Position();
        bool wide = false;
        const uint64_t length = sets.UnitLength(&wide);
        ByteReader set = sets.Take(length);
        const unsigned version = set.U16();
        const uint64_t info = set.Offset(wide);
        const unsigned size = set.U8();
        const unsigned segment = set.U8();
        const int unit = UnitAt(info);
        if (sets.Failed() || set.Failed() || version != 2 || segment != 0 || (size != 4 && size != 8) || unit < 0 ||
            units_.items[unit].offset != info)
            continue;
        const size_t used = static_cast<size_t>(set.Position() - start);
        set.Skip((2 * size - used % (2 * size)) % (2 * size));
        spanUnit_ = unit;
        const int before = spans_.count;
        for (;;) {
            const uint64_t address = set.Unsigned(size);
            const uint64_t bytes = set.Unsigned(size);
            if (set.Failed() || (address == 0 && bytes == 0) || address + bytes < address)
                break;
            AddSpan(this, address, address + bytes);
        }
        if (outOfMemory_)
            return false;
        units_.items[unit].mapped = units_.items[unit].mapped || spans_.count > before;
    }
    return true;
}

/* A unit that .debug_aranges leaves out claims its own entry's ranges. */
bool NameIndex::MapFromUnits(const DebugSections& sections)
{
    for (int unit = 0; unit < units_.count; ++unit) {
        Context context;
        Entry entry;
        uint64_t next = 0;
        if (units_.items[unit].mapped ||
            !ReadUnitHeader(sections.info, units_.items[unit].offset, &context.header, &next))
            continue;
        context.table = abbrevs_.Table(sections.abbrev, context.header.abbrevOffset, reallocate_);
        if (context.table < 0 ||
            !ReadUnitFacts(context.header, abbrevs_, context.table, sections, &context.facts, &entry))
            continue;
        spanUnit_ = unit;
        ForEachRange(entry, context.header, context.facts, sections, AddSpan, this);
        if (outOfMemory_)
            return false;
    }
    return true;
}

int NameIndex::UnitAt(uint64_t offset) const
{
    const Unit* begin = units_.items;
    const Unit* end = begin + units_.count;
    const Unit* after =
        std::upper_bound(begin, end, offset, [](uint64_t value, const Unit& u) { return value < u.offset; });
    if (after == begin || offset >= after[-1].end)
        return -1;
    return static_cast<int>(after - begin) - 1;
}

bool NameIndex::Open(const DebugSections& sections, int unit, Context* context)
{
    uint64_t next = 0;
    if (!ReadUnitHeader(sections.info, units_.items[unit].offset, &context->header, &next))
        return false;
    context->table = abbrevs_.Table(sections.abbrev, context->header.abbrevOffset, reallocate_);
    return context->table >= 0 &&
        ReadUnitFacts(context->header, abbrevs_, context->table, sections, &context->facts, nullptr);
}

const UnitFunctions* NameIndex::Functions(const DebugSections& sections, int unit)
{
    Unit& kept = units_.items[unit];
    if (kept.state == kRead)
        return kept.functions;
    Context context;
    if (kept.state == kDamaged || !Open(sections, unit, &context)) {
        kept.state = kDamaged;
        return nullptr;
    }
    void* memory = reallocate_(nullptr, sizeof(UnitFunctions));
    if (!memory)
        return nullptr;
    UnitFunctions* functions = new (memory) UnitFunctions();
    if (!functions->Build(context.header, context.facts, abbrevs_, context.table, sections, imageBase_, reallocate_,
                          release_)) {
        functions->~UnitFunctions();
        release_(memory);
        return nullptr;
    }
    kept.functions = functions;
    kept.state = functions->Damaged() ? kDamaged : kRead;
    return kept.state == kRead ? functions : nullptr;
}

int NameIndex::Calls(const DebugSections& sections, uint64_t offset, Call* calls, int most, uint64_t* unit)
{
    const Span* begin = spans_.items;
    const Span* end = begin + spans_.count;
    const Span* after = std::upper_bound(begin, end, offset, [](uint64_t value, const Span& s) { return value < s.low; });
    if (after == begin || offset >= after[-1].high)
        return 0;
    const UnitFunctions* functions = Functions(sections, after[-1].unit);
    if (!functions)
        return 0;
    *unit = units_.items[after[-1].unit].offset;
    int count = 0;
    for (int node = functions->Innermost(offset); node >= 0 && count < most;
         node = functions->NodeAt(node).parent) {
        const UnitFunctions::Node& found = functions->NodeAt(node);
        calls[count++] = Call{ found.entry, found.callFile, found.callLine };
    }
    return count;
}

NameIndex::NameKind NameIndex::FunctionName(const DebugSections& sections, uint64_t entry, char* text, size_t size)
{
    if (size == 0)
        return kNoName;
    const char* name = nullptr;
    uint64_t named = 0;
    int namedUnit = -1;
    for (int hop = 0; hop < kMostHops; ++hop) {
        const int unit = UnitAt(entry);
        Context context;
        if (unit < 0 || !Open(sections, unit, &context))
            break;
        ByteReader reader(ByteRange{ sections.info.data, static_cast<size_t>(context.header.end) }, entry);
        Entry found;
        if (!ReadEntry(reader, context.header, abbrevs_, context.table, sections, EveryTag, &found) || !found.tag)
            break;
        const char* linkage = EntryText(found.linkageName, context.header, context.facts, sections);
        if (linkage && *linkage) {
            size_t used = 0;
            text[0] = '\0';
            Append(text, size, &used, linkage);
            return kLinkageName;
        }
        const char* own = EntryText(found.name, context.header, context.facts, sections);
        /* Code named by its symbol (an alias, a transaction clone) has the
         * linkage name for its name. */
        if (!name && own && strncmp(own, "_Z", 2) == 0) {
            size_t used = 0;
            text[0] = '\0';
            Append(text, size, &used, own);
            return kLinkageName;
        }
        if (!name && own && *own) {
            name = own;
            named = entry;
            namedUnit = unit;
        }
        const FormValue& next = found.abstractOrigin.kind != FormValue::kAbsent ? found.abstractOrigin
                                                                                : found.declarationLink;
        if (!EntryReference(next, context.header, &entry))
            break;
    }
    if (!name)
        return kNoName;
    uint32_t scopes[kMostScopes];
    const UnitFunctions* functions = Functions(sections, namedUnit);
    const int count = functions ? functions->ScopesOf(named, scopes, kMostScopes) : 0;
    Context context;
    const bool opened = Open(sections, namedUnit, &context);
    size_t used = 0;
    text[0] = '\0';
    for (int i = count; opened && i-- > 0;) {
        ByteReader reader(ByteRange{ sections.info.data, static_cast<size_t>(context.header.end) }, scopes[i]);
        Entry scope;
        if (!ReadEntry(reader, context.header, abbrevs_, context.table, sections, EveryTag, &scope))
            break;
        const char* own = EntryText(scope.name, context.header, context.facts, sections);
        Append(text, size, &used, own && *own ? own : Unnamed(scope.tag));
        Append(text, size, &used, "::");
    }
    Append(text, size, &used, name);
    return kPlainName;
}

bool NameIndex::CallFile(const DebugSections& sections, uint64_t unit, uint64_t file, char* path, size_t size)
{
    const int at = UnitAt(unit);
    Context context;
    if (at < 0 || !Open(sections, at, &context) || !context.facts.hasLines)
        return false;
    LineUnit lines;
    uint64_t next = 0;
    if (!ReadLineUnit(sections, context.facts.lineOffset, &lines, &next))
        return false;
    const char* directory =
        lines.version < 5 ? EntryText(context.facts.compDir, context.header, context.facts, sections) : nullptr;
    return LineFilePath(sections, lines, file, directory, path, size);
}

int NameIndex::UnitsRead() const
{
    int read = 0;
    for (int i = 0; i < units_.count; ++i)
        read += units_.items[i].state != kUnread;
    return read;
}

size_t NameIndex::Bytes() const
{
    size_t bytes = static_cast<size_t>(units_.capacity) * sizeof(Unit) +
        static_cast<size_t>(spans_.capacity) * sizeof(Span) + abbrevs_.Bytes();
    for (int i = 0; i < units_.count; ++i)
        if (units_.items[i].functions)
            bytes += sizeof(UnitFunctions) + units_.items[i].functions->Bytes();
    return bytes;
}

}  // namespace tk
