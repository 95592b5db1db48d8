/* range_list.h -- the address ranges of an entry: its low and high pc, or
 * the list its DW_AT_ranges names in .debug_ranges (versions 2 to 4) or
 * .debug_rnglists (version 5). Pure functions over the sections' bytes. */
#ifndef TOOLS_DEBUGNAMES_RANGE_LIST_H
#define TOOLS_DEBUGNAMES_RANGE_LIST_H

#include <stdint.h>

#include "debuginfo/dwarf_unit.h"

namespace tk {

/* A list longer than this is taken for damaged: an entry's ranges are read
 * whole whenever its unit is indexed. */
const unsigned kMostRanges = 4096;

typedef void (*RangeVisitor)(void* context, uint64_t low, uint64_t high);

/* Calls visit for every non-empty range of entry. False, after visiting
 * none or some, when the entry names none, or its list is damaged, runs
 * past its section or is longer than kMostRanges: then no range of it can
 * be trusted. */
bool ForEachRange(const Entry& entry, const UnitHeader& unit, const UnitFacts& facts, const DebugSections& sections,
                  RangeVisitor visit, void* context);

}  // namespace tk

#endif
