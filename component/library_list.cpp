/* library_list.cpp -- the libraries kept loaded for component objects. */
#include <stdlib.h>

#include "component/library_list.h"
#include "runtime/init_order.h"

namespace tk {

namespace {
void* Reallocate(void* block, size_t bytes) { return realloc(block, bytes); }
void Release(void* block) { free(block); }
/* A function of our own rather than the import itself, so that the table is
 * constant and complete before any static constructor runs. */
BOOL WINAPI Unload(HMODULE module) { return FreeLibrary(module); }
}  // namespace

const LibraryListPlatform kSystemLibraryListPlatform = { Reallocate, Release, Unload };

namespace {
LibraryList g_libraries __attribute__((init_priority(TK_INIT_LOADED_LIBRARIES)));
}  // namespace

LibraryList& LoadedLibraries() { return g_libraries; }

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
