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

namespace {

/* A 32-bit function of the stdcall or fastcall convention keeps the
 * convention's mark in its names, its linkage name too: "name@8",
 * "@name@8", "_Z4stepi@4". Neither an '@' nor the count behind it belongs
 * to a C or C++ name, so they go on any target. Returns name, or the
 * undecorated copy in room when there was a mark to take off. */
const char* Undecorated(const char* name, char* room, size_t size)
{
    const char* end = name + strlen(name);
    const char* digits = end;
    while (digits > name && digits[-1] >= '0' && digits[-1] <= '9')
        --digits;
    /* The count, behind an '@' that has a name before it. */
    if (digits == end || digits - 1 <= name || digits[-1] != '@' || (name[0] == '@' && digits - 1 == name + 1))
        return name;
    const char* begin = name[0] == '@' ? name + 1 : name;
    end = digits - 1;
    const size_t length = static_cast<size_t>(end - begin);
    if (length >= size)
        return name;
    memcpy(room, begin, length);
    room[length] = '\0';
    return room;
}

}  // namespace

int TextPool::AddDemangled(const char* linkage, Reallocate reallocate)
{
    if (!linkage)
        return -1;
    char room[4096];
    linkage = Undecorated(linkage, room, sizeof room);
    if (strncmp(linkage, "_Z", 2) != 0)
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
