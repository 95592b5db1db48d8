/* allocation.h -- the C heap as plain functions, for the platform tables,
 * and a reserve of memory that one thread draws on instead.
 *
 * A table's entry needs an address, and tests stand in their own functions
 * to make memory run short; every table that allocates points here.
 *
 * The reserve is for code that must run when the C heap may be broken (a
 * report of a fault that may have come from a damaged heap): memory set
 * aside beforehand with the system's page calls, which no heap damage
 * reaches. While a thread draws on it, Allocate and Reallocate of a new
 * block on that thread take from the reserve; a block of the reserve is
 * grown and released there on any thread. The reserve hands out its
 * memory in order and takes back only the last block; EmptyReserve takes
 * back the rest at once, when whatever held them is gone. */
#ifndef TOOLS_BASE_ALLOCATION_H
#define TOOLS_BASE_ALLOCATION_H

#include <windows.h>

#include <stddef.h>

namespace tk {

void* Allocate(size_t bytes);
void* Reallocate(void* block, size_t bytes);
void Release(void* block);

/* Reserves bytes of address space for the reserve and commits the first
 * committed of them now; the rest is committed as it is drawn on. False,
 * with the system's last-error code, when either fails, and when a reserve
 * exists already. */
bool SetAsideReserve(size_t bytes, size_t committed);

/* The thread that draws on the reserve from now on: its id, or 0 for
 * none. */
void DrawOnReserve(DWORD thread);

/* Takes back every block of the reserve. */
void EmptyReserve();

/* Gives the reserve's memory back to the system; its blocks must be gone. */
void FreeReserve();

/* Bytes of the reserve in use, for tests and benchmarks. */
size_t ReserveInUse();

}  // namespace tk

#endif
