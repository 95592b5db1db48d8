/* dwarf_abbrev.cpp -- the abbreviation tables, each read once. */
#include <algorithm>

#include "debuginfo/dwarf_abbrev.h"

namespace tk {

namespace {

const uint64_t kImplicitConst = 0x21;

}  // namespace

bool AbbreviationIndex::Prepare(const uint64_t* offsets, int count, Reallocate reallocate, Release release)
{
    Clear(release);
    for (int i = 0; i < count; ++i) {
        TableEntry* table = tables_.Append(reallocate);
        if (!table) {
            Clear(release);
            return false;
        }
        *table = TableEntry{ offsets[i], 0, 0, kUnread };
    }
    std::sort(tables_.items, tables_.items + tables_.count,
              [](const TableEntry& a, const TableEntry& b) { return a.offset < b.offset; });
    tables_.count = static_cast<int>(
        std::unique(tables_.items, tables_.items + tables_.count,
                    [](const TableEntry& a, const TableEntry& b) { return a.offset == b.offset; }) -
        tables_.items);
    return true;
}

void AbbreviationIndex::Clear(Release release)
{
    tables_.Clear(release);
    declarations_.Clear(release);
}

int AbbreviationIndex::Table(ByteRange abbrev, uint64_t offset, Reallocate reallocate)
{
    const TableEntry* begin = tables_.items;
    const TableEntry* end = begin + tables_.count;
    const TableEntry* found = std::lower_bound(begin, end, offset,
                                               [](const TableEntry& t, uint64_t value) { return t.offset < value; });
    if (found == end || found->offset != offset)
        return -1;
    const int table = static_cast<int>(found - tables_.items);
    if (found->state == kUnread && !Read(abbrev, table, reallocate))
        return -1;
    return tables_.items[table].state == kRead ? table : -1;
}

/* Reads the declarations from the table's offset up to its terminating
 * code, and no further than where the next table begins. */
bool AbbreviationIndex::Read(ByteRange abbrev, int table, Reallocate reallocate)
{
    TableEntry& entry = tables_.items[table];
    const uint64_t limit = table + 1 < tables_.count ? tables_.items[table + 1].offset : abbrev.size;
    if (entry.offset >= abbrev.size || limit > abbrev.size || abbrev.size > UINT32_MAX) {
        entry.state = kDamaged;
        return true;
    }
    ByteReader reader(ByteRange{ abbrev.data, static_cast<size_t>(limit) }, entry.offset);
    const int first = declarations_.count;
    bool sound = false;
    while (!reader.Failed()) {
        const uint64_t code = reader.Uleb();
        if (code == 0) {
            sound = !reader.Failed();
            break;
        }
        const uint64_t tag = reader.Uleb();
        const unsigned children = reader.U8();
        const uint64_t specs = static_cast<uint64_t>(reader.Position() - abbrev.data);
        unsigned attributes = 0;
        for (;;) {
            const uint64_t name = reader.Uleb();
            const uint64_t form = reader.Uleb();
            if (form == kImplicitConst)
                reader.Sleb();
            if (reader.Failed() || (name == 0 && form == 0))
                break;
            ++attributes;
        }
        if (reader.Failed() || code > UINT32_MAX || tag > UINT16_MAX || children > 1 ||
            attributes > kMostAttributes)
            break;
        Declaration* declaration = declarations_.Append(reallocate);
        if (!declaration) {
            declarations_.count = first;
            return false;
        }
        *declaration = Declaration{ static_cast<uint32_t>(code), static_cast<uint32_t>(specs),
                                    static_cast<uint16_t>(tag), static_cast<uint8_t>(children),
                                    static_cast<uint8_t>(attributes) };
    }
    TableEntry& read = tables_.items[table];
    if (!sound) {
        declarations_.count = first;
        read.state = kDamaged;
        return true;
    }
    Declaration* begin = declarations_.items + first;
    Declaration* stop = declarations_.items + declarations_.count;
    /* A code declared twice keeps its first declaration. */
    std::stable_sort(begin, stop, [](const Declaration& a, const Declaration& b) { return a.code < b.code; });
    read.first = first;
    read.count = declarations_.count - first;
    read.state = kRead;
    return true;
}

const AbbreviationIndex::Declaration* AbbreviationIndex::Find(int table, uint64_t code) const
{
    if (table < 0 || table >= tables_.count || tables_.items[table].state != kRead)
        return nullptr;
    const TableEntry& entry = tables_.items[table];
    const Declaration* begin = declarations_.items + entry.first;
    const Declaration* end = begin + entry.count;
    /* Producers number their codes 1, 2, 3, ... */
    if (code >= 1 && code <= static_cast<uint64_t>(entry.count) && begin[code - 1].code == code &&
        (code == 1 || begin[code - 2].code != code))
        return begin + (code - 1);
    const Declaration* found = std::lower_bound(
        begin, end, code, [](const Declaration& d, uint64_t value) { return d.code < value; });
    return found != end && found->code == code ? found : nullptr;
}

}  // namespace tk
