/* text_pool.cpp -- the texts that one naming hands out. */
#include <cxxabi.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "sourceline/text_pool.h"

namespace tk {

int TextPool::Add(const char* text, Reallocate reallocate)
{
    if (!text)
        return -1;
    const size_t length = strlen(text) + 1;
    if (used_ + length > INT_MAX)
        return -1;
    if (used_ + length > capacity_) {
        size_t grown = capacity_ ? capacity_ : 1024;
        while (grown < used_ + length)
            grown *= 2;
        char* block = static_cast<char*>(reallocate(block_, grown));
        if (!block)
            return -1;
        block_ = block;
        capacity_ = grown;
    }
    memcpy(block_ + used_, text, length);
    const int offset = static_cast<int>(used_);
    used_ += length;
    return offset;
}

int TextPool::AddDemangled(const char* linkage, Reallocate reallocate)
{
    if (!linkage || strncmp(linkage, "_Z", 2) != 0)
        return Add(linkage, reallocate);
    int status = 0;
    /* The C++ runtime's demangler allocates with malloc. */
    char* name = abi::__cxa_demangle(linkage, nullptr, nullptr, &status);
    const int offset = Add(status == 0 && name ? name : linkage, reallocate);
    free(name);
    return offset;
}

void TextPool::Clear(Release release)
{
    if (block_)
        release(block_);
    block_ = nullptr;
    used_ = capacity_ = 0;
}

}  // namespace tk
