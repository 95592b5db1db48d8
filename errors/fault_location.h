/* fault_location.h -- the source file and line of a fault, for its text. */
#ifndef TOOLS_ERRORS_FAULT_LOCATION_H
#define TOOLS_ERRORS_FAULT_LOCATION_H

#include "tools/runtime.h"
#include "sourceline/file_names.h"
#include "sourceline/symbol_lookup.h"

namespace tk {

/* Restarts lookup (Stop, then Start, results ignored) and asks it for the
 * line of the faulting instruction of e's record:
 * - found: e's location becomes the lasting copy of the file name from
 *   names (none and -1 when no copy can be made) and the line;
 * - not found with a negative code, or no lookup available: none and -1;
 * - not found with code 0 (the platform left no error): e keeps its
 *   location, which is either the thrower's or a lasting copy, never the
 *   stopped engine's text.
 * An exception without a fault record (thrown by code) has no faulting
 * address: nothing is restarted and it keeps the location its thrower gave. */
void LocateFault(CException& e, CSymbolLookup& lookup, FileNames& names);

}  // namespace tk

#endif
