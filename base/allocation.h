/* allocation.h -- the C heap as plain functions, for the platform tables.
 *
 * A table's entry needs an address, and tests stand in their own functions
 * to make memory run short; every table that allocates points here. */
#ifndef TOOLS_BASE_ALLOCATION_H
#define TOOLS_BASE_ALLOCATION_H

#include <stddef.h>
#include <stdlib.h>

namespace tk {

inline void* Allocate(size_t bytes) { return malloc(bytes); }
inline void* Reallocate(void* block, size_t bytes) { return realloc(block, bytes); }
inline void Release(void* block) { free(block); }

}  // namespace tk

#endif
