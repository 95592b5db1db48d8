/* dwarf_unit.h -- the units of .debug_info and their entries.
 *
 * A unit's header names its version, address size and abbreviation table;
 * its entries follow, each an abbreviation code and the attribute values
 * that its declaration lists, children after their parent and ended by a
 * null entry. The first entry describes the unit itself: its line table,
 * compilation directory, base address, and the bases of its indexes into
 * .debug_addr, .debug_str_offsets and .debug_rnglists. Pure functions over
 * the sections' bytes, like the line-table reader. */
#ifndef TOOLS_DEBUGINFO_DWARF_UNIT_H
#define TOOLS_DEBUGINFO_DWARF_UNIT_H

#include <stdint.h>

#include "debuginfo/dwarf_abbrev.h"
#include "debuginfo/dwarf_form.h"

namespace tk {

struct UnitHeader {
    uint64_t offset;          /* of the unit in .debug_info */
    uint64_t end;             /* past its last byte */
    uint64_t entries;         /* offset of its first entry */
    uint64_t abbrevOffset;
    FormContext form;
    unsigned type;            /* DW_UT_compile before version 5 */
};

/* Reads the header of the unit at offset. *next becomes the offset after
 * the unit, or the section's size when its length runs past the section.
 * False when the header is damaged, its version is not 2 to 5, or it is no
 * compilation or partial unit (type units name no code). */
bool ReadUnitHeader(ByteRange info, uint64_t offset, UnitHeader* unit, uint64_t* next);

/* What the readers want of an entry: each attribute's value, kAbsent when
 * the entry has none. */
struct Entry {
    uint64_t offset;
    unsigned tag;             /* 0: the null entry that ends a list of children */
    bool children;
    FormValue name, linkageName, lowPc, highPc, ranges, abstractOrigin, declarationLink, callFile, callLine,
        stmtList, compDir, addrBase, strOffsetsBase, rnglistsBase;
};

/* Which entries' values a reader wants, by tag: the others' attributes are
 * stepped over, which is quicker. */
typedef bool (*TagFilter)(unsigned tag);
inline bool EveryTag(unsigned) { return true; }

/* Reads the entry at reader's position, of a unit whose abbreviations are
 * table of abbrevs, and leaves reader after it: its tag, and the values of
 * its attributes when wanted(tag). False, with the reader failed, when its
 * code is not declared or a value cannot be read. */
bool ReadEntry(ByteReader& reader, const UnitHeader& unit, const AbbreviationIndex& abbrevs, int table,
               const DebugSections& sections, TagFilter wanted, Entry* entry);

/* The unit's own facts from its first entry. */
struct UnitFacts {
    uint64_t lowPc;           /* the base of its address ranges; 0 when it names none */
    uint64_t addrBase, strOffsetsBase, rnglistsBase;   /* offsets into those sections */
    bool hasLines;
    uint64_t lineOffset;      /* DW_AT_stmt_list */
    FormValue compDir;
};

/* Reads the first entry of a unit into facts (and, when entry is not null,
 * the whole entry). Version 5 bases the unit does not name default to just
 * past the header of the unit's contribution, as producers that omit them
 * mean. False when the entry cannot be read. */
bool ReadUnitFacts(const UnitHeader& unit, const AbbreviationIndex& abbrevs, int table,
                   const DebugSections& sections, UnitFacts* facts, Entry* entry);

/* A text value, through .debug_str_offsets for an index; null when it has
 * none or it lies outside its section. */
const char* EntryText(const FormValue& value, const UnitHeader& unit, const UnitFacts& facts,
                      const DebugSections& sections);

/* An address value, through .debug_addr for an index. */
bool EntryAddress(const FormValue& value, const UnitHeader& unit, const UnitFacts& facts,
                  const DebugSections& sections, uint64_t* address);

/* The .debug_info offset that a reference names; false for other values
 * and for a unit reference outside its unit. */
bool EntryReference(const FormValue& value, const UnitHeader& unit, uint64_t* offset);

typedef bool (*CompilationUnitVisitor)(void* context, uint64_t lineOffset, const char* directory);

/* Calls visit for every compilation unit of .debug_info whose first entry
 * can be read and names a line table (DW_AT_stmt_list), in their order,
 * with the table's offset into .debug_line and the unit's compilation
 * directory (DW_AT_comp_dir; null when it has none this reader can read),
 * until visit returns false or a unit's length runs past the section.
 * abbrevs is the caller's, prepared here; false when its storage cannot
 * grow, and then no unit is visited. */
bool ForEachCompilationUnit(const DebugSections& sections, AbbreviationIndex& abbrevs,
                            AbbreviationIndex::Reallocate reallocate, AbbreviationIndex::Release release,
                            CompilationUnitVisitor visit, void* context);

/* Collects the abbreviation offsets of every unit header that can be read
 * and prepares abbrevs with them; false when storage cannot grow. */
bool PrepareAbbreviations(ByteRange info, AbbreviationIndex& abbrevs, AbbreviationIndex::Reallocate reallocate,
                          AbbreviationIndex::Release release);

}  // namespace tk

#endif
