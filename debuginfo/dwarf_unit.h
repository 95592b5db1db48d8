/* dwarf_unit.h -- the compilation units of .debug_info: their line tables
 * and compilation directories.
 *
 * Line tables before version 5 do not carry the directory that their
 * relative paths start from; the first entry of the unit that names the
 * table does. A pure function over the sections' bytes, like the
 * line-table reader. */
#ifndef TOOLS_DEBUGINFO_DWARF_UNIT_H
#define TOOLS_DEBUGINFO_DWARF_UNIT_H

#include <stdint.h>

#include "debuginfo/dwarf_form.h"

namespace tk {

typedef bool (*CompilationUnitVisitor)(void* context, uint64_t lineOffset, const char* directory);

/* Calls visit for every compilation unit of .debug_info whose first entry
 * can be read and names a line table (DW_AT_stmt_list), in their order,
 * with the table's offset into .debug_line and the unit's compilation
 * directory (DW_AT_comp_dir; null when it has none this reader can read),
 * until visit returns false or a unit's length runs past the section. */
void ForEachCompilationUnit(const DebugSections& sections, CompilationUnitVisitor visit, void* context);

}  // namespace tk

#endif
