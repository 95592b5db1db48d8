/* text_pool.h -- the texts that one naming hands out, in one block that
 * grows and is reused by the next.
 *
 * A text is known by its offset while the block may still move; the
 * caller takes pointers only once every text is in. */
#ifndef TOOLS_SOURCELINE_TEXT_POOL_H
#define TOOLS_SOURCELINE_TEXT_POOL_H

#include <stddef.h>

namespace tk {

class TextPool {
public:
    typedef void* (*Reallocate)(void* block, size_t bytes);
    typedef void (*Release)(void* block);

    TextPool() : block_(nullptr), used_(0), capacity_(0) {}
    TextPool(const TextPool&) = delete;
    TextPool& operator=(const TextPool&) = delete;

    /* Copies text in; its offset, or -1 for a null text or when the block
     * cannot grow. */
    int Add(const char* text, Reallocate reallocate);
    /* Copies in the C++ name that a linkage name (_Z...) stands for, or the
     * linkage name itself when it stands for none; either without a 32-bit
     * calling convention's decoration ("@name@8", "name@8"). */
    int AddDemangled(const char* linkage, Reallocate reallocate);
    /* The text at offset; null for -1. */
    const char* At(int offset) const { return offset < 0 ? nullptr : block_ + offset; }

    /* Forgets the texts, keeping the block. */
    void Reset() { used_ = 0; }
    void Clear(Release release);

private:
    char* block_;
    size_t used_, capacity_;
};

}  // namespace tk

#endif
