/* unit_functions.h -- which functions, compiled and inlined, one unit's
 * code ranges belong to.
 *
 * Indexing a unit reads each of its entries once. It keeps a node for
 * every subprogram with code, and for every inlined call
 * (DW_TAG_inlined_subroutine) with the node it was inlined into and the
 * file and line of the call; and each node's address ranges, sorted, each
 * with the nearest earlier range that holds it, so that a lookup climbs
 * from the last range that starts at or below an address to the innermost
 * one that holds it. For the few functions named without a linkage name
 * it keeps the namespaces and classes around their names, whose entries
 * nothing else would find again (DWARF links children to parents only by
 * their order). Offsets only, never pointers: the sections may lie
 * elsewhere at the next lookup. */
#ifndef TOOLS_DEBUGNAMES_UNIT_FUNCTIONS_H
#define TOOLS_DEBUGNAMES_UNIT_FUNCTIONS_H

#include <stddef.h>
#include <stdint.h>

#include "base/growable_array.h"
#include "debuginfo/dwarf_unit.h"

namespace tk {

class UnitFunctions {
public:
    typedef void* (*Reallocate)(void* block, size_t bytes);
    typedef void (*Release)(void* block);

    /* Entries nested deeper than this make the unit damaged. */
    static const int kMostDepth = 256;

    /* A function at an address: the entry of the subprogram or inlined
     * call, and for an inlined call the file and line it was called from
     * (0 for a subprogram). */
    struct Node {
        uint32_t entry;
        int32_t parent;      /* the node it was inlined into; -1 for a subprogram */
        uint32_t callFile;
        uint32_t callLine;
    };

    UnitFunctions() : damaged_(false) {}
    UnitFunctions(const UnitFunctions&) = delete;
    UnitFunctions& operator=(const UnitFunctions&) = delete;

    /* Indexes the unit. Its ranges are kept relative to imageBase; ranges
     * outside the 4 GiB above it (code the linker dropped) are left out.
     * False when storage cannot grow, with nothing kept; a damaged unit
     * is no failure: what was read before the damage is dropped too, and
     * Damaged() says so. */
    bool Build(const UnitHeader& unit, const UnitFacts& facts, const AbbreviationIndex& abbrevs, int table,
               const DebugSections& sections, uint64_t imageBase, Reallocate reallocate, Release release);
    void Clear(Release release);

    /* The innermost node whose ranges hold offset (relative to the image
     * base); -1 when none does. */
    int Innermost(uint64_t offset) const;
    const Node& NodeAt(int node) const { return nodes_.items[node]; }

    /* The offsets of the scopes around the named entry, innermost first,
     * into scopes (up to most); how many were written. 0 when the entry
     * lies at the unit's top or the unit kept no scopes for it. */
    int ScopesOf(uint64_t entry, uint32_t* scopes, int most) const;

    bool Damaged() const { return damaged_; }
    size_t Bytes() const
    {
        return static_cast<size_t>(nodes_.capacity) * sizeof(Node) +
            static_cast<size_t>(ranges_.capacity) * sizeof(Range) +
            static_cast<size_t>(named_.capacity) * sizeof(Named) +
            static_cast<size_t>(scopes_.capacity) * sizeof(Scope);
    }

private:
    struct Range {
        uint32_t low, high;
        int32_t node;
        int32_t enclosing;   /* the nearest earlier range that holds this one; -1 for none */
    };
    /* A function entry named without a linkage name, and its innermost
     * scope. */
    struct Named {
        uint32_t entry;
        int32_t scope;
    };
    struct Scope {
        uint32_t entry;
        int32_t parent;
    };
    struct Open;
    struct Builder;

    static void AddRange(void* context, uint64_t low, uint64_t high);
    void Link();

    GrowableArray<Node> nodes_;
    GrowableArray<Range> ranges_;
    GrowableArray<Named> named_;
    GrowableArray<Scope> scopes_;
    bool damaged_;
};

}  // namespace tk

#endif
