/* name_index.h -- the functions, compiled and inlined, at an address of a
 * module, from its DWARF.
 *
 * Building the index reads only the units' headers and .debug_aranges
 * (where a unit has no address ranges there, its first entry's own): it
 * learns which unit holds each address. A unit's entries are read the
 * first time a lookup lands in it (UnitFunctions), so the first lookup in
 * a large module reads one unit, not all. Names are read at lookup time:
 * the linkage name found by following from the entry its abstract origin
 * and an out-of-line definition's link to its declaration (attribute
 * 0x47), for the caller to demangle; or else the entry's DW_AT_name with
 * the namespaces and classes around it.
 * Offsets only, never pointers, as the line index keeps them. */
#ifndef TOOLS_DEBUGNAMES_NAME_INDEX_H
#define TOOLS_DEBUGNAMES_NAME_INDEX_H

#include <stddef.h>
#include <stdint.h>

#include "base/growable_array.h"
#include "debuginfo/dwarf_abbrev.h"
#include "debuginfo/dwarf_unit.h"
#include "debugnames/unit_functions.h"

namespace tk {

class NameIndex {
public:
    typedef void* (*Reallocate)(void* block, size_t bytes);
    typedef void (*Release)(void* block);

    /* Bounds on the work of one name: the entries followed to find it,
     * and the scopes written around it. */
    static const int kMostHops = 8;
    static const int kMostScopes = 16;

    /* One function at an address. */
    struct Call {
        uint64_t entry;       /* its subprogram's or inlined call's entry */
        uint32_t callFile;    /* an inlined call's place in the function it was inlined into: */
        uint32_t callLine;    /* the next call out; 0 for the compiled function */
    };

    enum NameKind { kNoName, kLinkageName, kPlainName };

    NameIndex() : reallocate_(nullptr), release_(nullptr), imageBase_(0), spanUnit_(-1), outOfMemory_(false) {}
    ~NameIndex() { Clear(); }
    NameIndex(const NameIndex&) = delete;
    NameIndex& operator=(const NameIndex&) = delete;

    /* Learns the units of sections, whose addresses are those of an image
     * loaded at imageBase, and which unit holds which addresses. False,
     * with the index empty, when the storage cannot grow. The storage is
     * the owner's platform's, kept for the lookups; Clear releases it. */
    bool Build(const DebugSections& sections, uint64_t imageBase, Reallocate reallocate, Release release);
    void Clear();

    /* The functions at offset (relative to the image base), innermost
     * first: the inlined calls that hold it, then the compiled function.
     * Writes up to most of them, the innermost ones, and returns how many
     * it wrote; 0 when no unit's functions hold the address, or the unit
     * that holds it cannot be read. *unit becomes the unit's offset, for
     * CallFile. The sections are those the index was built over. */
    int Calls(const DebugSections& sections, uint64_t offset, Call* calls, int most, uint64_t* unit);

    /* The name of the function of entry: a linkage name as the producer
     * wrote it (kLinkageName), or DW_AT_name with its scopes, "ns::Class::
     * name" (kPlainName), into text (size bytes with the terminator; cut to
     * fit). kNoName when it has neither. */
    NameKind FunctionName(const DebugSections& sections, uint64_t entry, char* text, size_t size);

    /* The path of file (an index of the unit's line table), as the line
     * table gives it (see LineFilePath). */
    bool CallFile(const DebugSections& sections, uint64_t unit, uint64_t file, char* path, size_t size);

    int Units() const { return units_.count; }
    int UnitsRead() const;
    /* The storage the index holds, the units read included. */
    size_t Bytes() const;

private:
    enum UnitState : uint8_t { kUnread, kRead, kDamaged };
    struct Unit {
        uint32_t offset, end;
        UnitFunctions* functions;   /* once read */
        UnitState state;
        bool mapped;                /* .debug_aranges names its ranges */
    };
    struct Span {
        uint32_t low, high;
        int32_t unit;
    };
    /* What a lookup needs of one unit. */
    struct Context {
        UnitHeader header;
        UnitFacts facts;
        int table;
    };

    int UnitAt(uint64_t offset) const;
    bool Open(const DebugSections& sections, int unit, Context* context);
    /* The unit's functions, read on first need; null when it cannot be
     * read. */
    const UnitFunctions* Functions(const DebugSections& sections, int unit);
    bool MapFromAranges(const DebugSections& sections);
    bool MapFromUnits(const DebugSections& sections);
    static void AddSpan(void* context, uint64_t low, uint64_t high);

    GrowableArray<Unit> units_;
    GrowableArray<Span> spans_;
    AbbreviationIndex abbrevs_;
    Reallocate reallocate_;
    Release release_;
    uint64_t imageBase_;
    int spanUnit_;        /* while building: the unit whose spans are being added */
    bool outOfMemory_;
};

}  // namespace tk

#endif
