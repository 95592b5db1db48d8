/* fde_index.h (i686) -- the frame description entries of the modules whose
 * call-frame tables GCC's shared unwinder holds, in an index of the
 * library's own that a walk reads at the time of a fault without lock or
 * allocation.
 *
 * GCC's own lookup (_Unwind_Find_FDE) takes one lock of the whole process
 * for every lookup, and after a module registered its tables it sorts them
 * on its next miss, allocating under that lock: a fault while any thread
 * holds the heap's lock, or while the faulting thread holds the unwinder's,
 * would wait for ever. The index is built outside faults instead: when a
 * translator is installed, and when the loader maps or unmaps a module. A
 * module counts with the entries that the unwinder finds; while the loader
 * maps it, before its start-up code registers them, it counts when it
 * imports the unwinder's DLL, where its start-up code then registers them,
 * with all its entries until the next rebuild (those of the start-up
 * objects linked before the registration's mark, which the unwinder never
 * holds, included). Code that the index does not cover is left
 * untranslated. */
#ifndef TOOLS_FRAMES_I686_FDE_INDEX_H
#define TOOLS_FRAMES_I686_FDE_INDEX_H

#include "frames/processor.h"

namespace tk {

/* Rebuilds the index for every module loaded now. */
void IndexLoadedModules();

/* Adds the module that the loader maps at image, when it counts. */
void IndexNewModule(const void* image);

/* Drops the module at image. */
void DropIndexedModule(const void* image);

/* Frees the whole index, when no walk can run any more. */
void ReleaseIndex();

/* The entry that covers pc, and its function's start in bases->func, as
 * _Unwind_Find_FDE answers; null where the index has none. */
const void* FindIndexedFde(void* pc, dwarf_eh_bases* bases);

/* Reads size bytes of a module's .eh_frame, as the index does: the number
 * of entries that cover code, or -1 when the bytes do not read as
 * call-frame tables throughout. Fills at most capacity of begins with
 * their functions' starts, in order of address. For tests. */
int ReadFrameEntries(const unsigned char* table, size_t size, DWORD_PTR* begins, int capacity);

}  // namespace tk

#endif
