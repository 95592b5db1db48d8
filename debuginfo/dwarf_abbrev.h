/* dwarf_abbrev.h -- the abbreviation tables of .debug_abbrev, each read
 * once.
 *
 * Every entry of .debug_info starts with a code that its unit's table
 * declares: the entry's tag, whether children follow, and its attributes'
 * names and forms. Units name their table by offset, and many units may
 * share one. Scanning a table from its start for each entry, or for each
 * unit, would make hostile input quadratic, so the index is told every
 * offset that units name before it reads any table; each table then ends
 * at its terminating code or at the next table named, whichever comes
 * first, and no byte of the section is read twice. An offset inside
 * another table is damaged input, not a table. */
#ifndef TOOLS_DEBUGINFO_DWARF_ABBREV_H
#define TOOLS_DEBUGINFO_DWARF_ABBREV_H

#include <stddef.h>
#include <stdint.h>

#include "base/growable_array.h"
#include "debuginfo/dwarf_bytes.h"

namespace tk {

class AbbreviationIndex {
public:
    typedef void* (*Reallocate)(void* block, size_t bytes);
    typedef void (*Release)(void* block);

    /* A declaration with more attributes than this is damaged: decoding an
     * entry costs one step per attribute. */
    static const unsigned kMostAttributes = 255;

    struct Declaration {
        uint32_t code;
        uint32_t specs;        /* offset into .debug_abbrev of its attribute entries */
        uint16_t tag;
        uint8_t children;
        uint8_t attributes;    /* how many attribute entries follow */
    };

    AbbreviationIndex() : section_{ nullptr, 0 } {}
    AbbreviationIndex(const AbbreviationIndex&) = delete;
    AbbreviationIndex& operator=(const AbbreviationIndex&) = delete;

    /* Takes the offsets that units name (in any order, repeats allowed)
     * without reading a table. False when the storage cannot grow; the
     * index is empty then. */
    bool Prepare(const uint64_t* offsets, int count, Reallocate reallocate, Release release);

    /* The table at offset, read on its first request from abbrev (the same
     * section every time); -1 when no unit named it, it is damaged, or the
     * storage cannot grow (then it is tried again on the next request). */
    int Table(ByteRange abbrev, uint64_t offset, Reallocate reallocate);

    /* The declaration of code in a table from Table; null when it has none. */
    const Declaration* Find(int table, uint64_t code) const;

    void Clear(Release release);
    size_t Bytes() const
    {
        return static_cast<size_t>(tables_.capacity) * sizeof(TableEntry) +
            static_cast<size_t>(declarations_.capacity) * sizeof(Declaration);
    }

private:
    enum State : uint8_t { kUnread, kRead, kDamaged };
    struct TableEntry {
        uint64_t offset;
        int first, count;   /* its declarations, sorted by code */
        State state;
    };

    bool Read(ByteRange abbrev, int table, Reallocate reallocate);

    GrowableArray<TableEntry> tables_;   /* sorted by offset, each once */
    GrowableArray<Declaration> declarations_;
    ByteRange section_;
};

}  // namespace tk

#endif
