/* library_list.h -- the libraries kept loaded for component objects.
 *
 * Component creation appends a library's handle once per object it creates
 * (the platform counts the loads); TkTerminate frees every entry, last
 * loaded first, and releases the storage. */
#ifndef TOOLS_COMPONENT_LIBRARY_LIST_H
#define TOOLS_COMPONENT_LIBRARY_LIST_H

#include <windows.h>

#include "base/growable_array.h"

namespace tk {

class LibraryList {
public:
    constexpr LibraryList() {}
    /* Releases the storage without freeing any library. */
    ~LibraryList();

    /* Records module at the end. Full storage grows to 1 entry when it has
     * none, else to twice the count; when that fails the handle is dropped
     * without notice and its library stays loaded. */
    void Append(HMODULE module);

    /* Frees every recorded library, last first, ignoring failures, then
     * releases the storage. */
    void FreeAll();

    int Count() const { return handles_.count; }
    int Capacity() const { return handles_.capacity; }
    HMODULE At(int index) const { return handles_.items[index]; }

private:
    LibraryList(const LibraryList&) = delete;
    LibraryList& operator=(const LibraryList&) = delete;

    GrowableArray<HMODULE> handles_;
};

/* The one list, of the whole process; TkTerminate frees it. */
LibraryList& LoadedLibraries();

}  // namespace tk

#endif
