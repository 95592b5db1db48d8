/* growable_array.h -- storage that grows to one entry, then doubles.
 *
 * The loaded-library list and the symbol engine's program-database list
 * both grow this way, through allocators of their platform tables, and both
 * leave an entry out, rather than fail, when memory runs short. */
#ifndef TOOLS_BASE_GROWABLE_ARRAY_H
#define TOOLS_BASE_GROWABLE_ARRAY_H

#include <stddef.h>

namespace tk {

template <typename T>
struct GrowableArray {
    typedef void* (*Reallocate)(void* block, size_t bytes);
    typedef void (*Release)(void* block);

    T* items = nullptr;
    int count = 0;
    int capacity = 0;

    /* The place of a new last entry, counted already; null, with nothing
     * changed, when full storage cannot grow. Capacities run 0, 1, 2, 4, ... */
    T* Append(Reallocate reallocate)
    {
        if (count == capacity) {
            int grown = capacity == 0 ? 1 : capacity * 2;
            void* block = reallocate(items, grown * sizeof(T));
            if (!block)
                return nullptr;
            items = static_cast<T*>(block);
            capacity = grown;
        }
        return &items[count++];
    }

    /* Releases the storage and leaves the array empty. */
    void Clear(Release release)
    {
        if (items)
            release(items);
        items = nullptr;
        count = 0;
        capacity = 0;
    }
};

}  // namespace tk

#endif
