/* allocation.cpp -- the C heap, and the reserve that one thread draws on. */
#include <stdlib.h>
#include <string.h>

#include "base/allocation.h"

namespace tk {

namespace {

/* Each block of the reserve starts with its size, in a header as large as
 * the C heap's alignment, so that a block is aligned as malloc's are. */
struct alignas(2 * sizeof(void*)) Header {
    size_t bytes;
};

struct Reserve {
    char* base;
    size_t size;
    size_t committed;
    size_t used;     /* from base: every block and its header */
    size_t last;     /* the offset of the last block's header */
    volatile DWORD thread;
};

Reserve g_reserve;

bool InReserve(const void* block)
{
    const char* at = static_cast<const char*>(block);
    return g_reserve.base && at >= g_reserve.base && at < g_reserve.base + g_reserve.size;
}

bool DrawsOnReserve()
{
    const DWORD thread = g_reserve.thread;
    return thread && thread == GetCurrentThreadId();
}

Header* HeaderOf(void* block) { return static_cast<Header*>(block) - 1; }

void* FromReserve(size_t bytes)
{
    const size_t unit = sizeof(Header);
    if (bytes > g_reserve.size)
        return nullptr;
    const size_t rounded = (bytes + unit - 1) / unit * unit;
    const size_t need = g_reserve.used + unit + rounded;
    if (need > g_reserve.size || need < g_reserve.used)
        return nullptr;
    if (need > g_reserve.committed) {
        /* Committed a megabyte at a time: fewer calls, and a block of the
         * debug readers' size seldom needs more than one. */
        const size_t step = 1 << 20;
        size_t upTo = (need + step - 1) / step * step;
        if (upTo > g_reserve.size)
            upTo = g_reserve.size;
        if (!VirtualAlloc(g_reserve.base + g_reserve.committed, upTo - g_reserve.committed, MEM_COMMIT,
                          PAGE_READWRITE))
            return nullptr;
        g_reserve.committed = upTo;
    }
    Header* header = reinterpret_cast<Header*>(g_reserve.base + g_reserve.used);
    header->bytes = rounded;
    g_reserve.last = g_reserve.used;
    g_reserve.used = need;
    return header + 1;
}

bool IsLast(void* block) { return reinterpret_cast<char*>(HeaderOf(block)) == g_reserve.base + g_reserve.last; }

void* GrowInReserve(void* block, size_t bytes)
{
    Header* header = HeaderOf(block);
    if (bytes <= header->bytes)
        return block;
    if (IsLast(block)) {
        /* The last block grows where it lies. */
        g_reserve.used = g_reserve.last;
        void* grown = FromReserve(bytes);
        if (grown)
            return grown;
        g_reserve.used = g_reserve.last + sizeof(Header) + header->bytes;
        return nullptr;
    }
    void* moved = FromReserve(bytes);
    if (moved)
        memcpy(moved, block, header->bytes);
    return moved;
}

}  // namespace

void* Allocate(size_t bytes) { return DrawsOnReserve() ? FromReserve(bytes) : malloc(bytes); }

void* Reallocate(void* block, size_t bytes)
{
    if (block ? InReserve(block) : DrawsOnReserve())
        return block ? GrowInReserve(block, bytes) : FromReserve(bytes);
    return realloc(block, bytes);
}

void Release(void* block)
{
    if (!InReserve(block)) {
        free(block);
        return;
    }
    if (IsLast(block)) {
        g_reserve.used = g_reserve.last;
        /* The block before it becomes the last only in name: its header is
         * not found again, so later blocks simply follow the used part. */
        g_reserve.last = g_reserve.size;
    }
}

bool SetAsideReserve(size_t bytes, size_t committed)
{
    if (g_reserve.base) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return false;
    }
    char* base = static_cast<char*>(VirtualAlloc(nullptr, bytes, MEM_RESERVE, PAGE_NOACCESS));
    if (!base)
        return false;
    if (committed > bytes)
        committed = bytes;
    if (committed && !VirtualAlloc(base, committed, MEM_COMMIT, PAGE_READWRITE)) {
        const DWORD error = GetLastError();
        VirtualFree(base, 0, MEM_RELEASE);
        SetLastError(error);
        return false;
    }
    g_reserve.size = bytes;
    g_reserve.committed = committed;
    g_reserve.used = 0;
    g_reserve.last = bytes;
    g_reserve.thread = 0;
    g_reserve.base = base;
    return true;
}

void DrawOnReserve(DWORD thread) { g_reserve.thread = thread; }

void EmptyReserve()
{
    g_reserve.used = 0;
    g_reserve.last = g_reserve.size;
}

void FreeReserve()
{
    if (!g_reserve.base)
        return;
    g_reserve.thread = 0;
    VirtualFree(g_reserve.base, 0, MEM_RELEASE);
    g_reserve = Reserve();
}

size_t ReserveInUse() { return g_reserve.used; }

}  // namespace tk
