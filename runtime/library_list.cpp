/* library_list.cpp -- the libraries kept loaded for component objects. */
#include <stdlib.h>

#include "runtime/library_list.h"

namespace tk {

namespace {
void* Reallocate(void* block, size_t bytes) { return realloc(block, bytes); }
void Release(void* block) { free(block); }
/* A function of our own rather than the import itself, so that the table is
 * constant and complete before any static constructor runs. */
BOOL WINAPI Unload(HMODULE module) { return FreeLibrary(module); }
}  // namespace

const LibraryListPlatform kSystemLibraryListPlatform = { Reallocate, Release, Unload };

LibraryList::LibraryList(const LibraryListPlatform& platform) : platform_(platform) {}

LibraryList::~LibraryList() { handles_.Clear(platform_.release); }

void LibraryList::Append(HMODULE module)
{
    if (HMODULE* slot = handles_.Append(platform_.reallocate))
        *slot = module;
}

void LibraryList::FreeAll()
{
    for (int i = handles_.count - 1; i >= 0; --i)
        platform_.freeLibrary(handles_.items[i]);
    handles_.Clear(platform_.release);
}

}  // namespace tk
