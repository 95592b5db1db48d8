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

LibraryList::LibraryList(const LibraryListPlatform& platform)
    : platform_(platform), handles_(nullptr), count_(0), capacity_(0) {}

LibraryList::~LibraryList() { ReleaseStorage(); }

void LibraryList::Append(HMODULE module)
{
    if (count_ == capacity_) {
        int grown = capacity_ == 0 ? 1 : count_ * 2;
        void* block = platform_.reallocate(handles_, grown * sizeof(HMODULE));
        if (!block)
            return;
        handles_ = static_cast<HMODULE*>(block);
        capacity_ = grown;
    }
    handles_[count_++] = module;
}

void LibraryList::FreeAll()
{
    for (int i = count_ - 1; i >= 0; --i)
        platform_.freeLibrary(handles_[i]);
    ReleaseStorage();
}

void LibraryList::ReleaseStorage()
{
    if (handles_)
        platform_.release(handles_);
    handles_ = nullptr;
    count_ = 0;
    capacity_ = 0;
}

}  // namespace tk
