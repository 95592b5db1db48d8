/* scripted_heap.h -- the C heap as a platform table's entries, with
 * failures a test scripts and the requests and releases it counts. */
#ifndef TOOLS_TESTS_SCRIPTED_HEAP_H
#define TOOLS_TESTS_SCRIPTED_HEAP_H

#include <stddef.h>
#include <stdlib.h>

#include <vector>

namespace tktest {

struct HeapScript {
    bool failAll;                  /* every request fails */
    size_t failSize;               /* a request of this size fails, once; 0 for none */
    std::vector<size_t> requests;  /* the sizes asked for, in order */
    int releases;
};

/* The script of this program's heap entries; a test starts it anew with
 * Heap() = HeapScript(). */
inline HeapScript& Heap()
{
    static HeapScript script;
    return script;
}

inline bool Refused(size_t bytes)
{
    HeapScript& heap = Heap();
    heap.requests.push_back(bytes);
    if (heap.failAll)
        return true;
    if (bytes && bytes == heap.failSize) {
        heap.failSize = 0;
        return true;
    }
    return false;
}

inline void* ScriptedAllocate(size_t bytes) { return Refused(bytes) ? nullptr : malloc(bytes); }
inline void* ScriptedReallocate(void* block, size_t bytes) { return Refused(bytes) ? nullptr : realloc(block, bytes); }
inline void ScriptedRelease(void* block)
{
    ++Heap().releases;
    free(block);
}

}  // namespace tktest

#endif
