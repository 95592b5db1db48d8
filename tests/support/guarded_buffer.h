/* guarded_buffer.h -- an output buffer with guard bytes on both sides, to
 * see whether a call wrote outside the room it was given, and an input
 * buffer fenced by an inaccessible page, to see that it read no further. */
#ifndef TOOLS_TESTS_GUARDED_BUFFER_H
#define TOOLS_TESTS_GUARDED_BUFFER_H

#include <stddef.h>
#include <string.h>

#include <windows.h>

#include <string>
#include <vector>

namespace tktest {

class GuardedBuffer {
public:
    static const char kGuard = '~';
    static const size_t kGuardSize = 16;

    /* size bytes of room, filled with the guard byte like the guards, so a
     * call that writes nothing leaves the room as it found it. */
    explicit GuardedBuffer(size_t size) : size_(size), bytes_(size + 2 * kGuardSize, kGuard) {}

    char* Data() { return bytes_.data() + kGuardSize; }
    const char* Data() const { return bytes_.data() + kGuardSize; }
    size_t Size() const { return size_; }

    /* True when both guards are as they were. */
    bool Intact() const
    {
        for (size_t i = 0; i < kGuardSize; ++i)
            if (bytes_[i] != kGuard || bytes_[kGuardSize + size_ + i] != kGuard)
                return false;
        return true;
    }
    /* True when the room itself was not written either. */
    bool Untouched() const
    {
        for (char c : bytes_)
            if (c != kGuard)
                return false;
        return true;
    }

private:
    size_t size_;
    std::vector<char> bytes_;
};

/* size bytes that end where an inaccessible page begins, for what a call
 * only reads: a read past their end faults at once. */
class FencedBuffer {
public:
    explicit FencedBuffer(size_t size) : size_(size)
    {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        const size_t page = info.dwPageSize;
        span_ = (size + page - 1) / page * page + page;
        base_ = static_cast<char*>(VirtualAlloc(nullptr, span_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old;
        if (base_ && !VirtualProtect(base_ + span_ - page, page, PAGE_NOACCESS, &old)) {
            VirtualFree(base_, 0, MEM_RELEASE);
            base_ = nullptr;
        }
        data_ = base_ ? base_ + span_ - page - size : nullptr;
    }
    ~FencedBuffer()
    {
        if (base_)
            VirtualFree(base_, 0, MEM_RELEASE);
    }

    /* Null when the pages could not be had. */
    char* Data() { return data_; }
    /* Copies text and its terminator so that they end at the fence; text
     * must fit in the size. */
    const char* Place(const std::string& text)
    {
        char* at = data_ + size_ - (text.size() + 1);
        memcpy(at, text.c_str(), text.size() + 1);
        return at;
    }

private:
    FencedBuffer(const FencedBuffer&) = delete;
    FencedBuffer& operator=(const FencedBuffer&) = delete;

    size_t size_;
    size_t span_;
    char* base_;
    char* data_;
};

}  // namespace tktest

#endif
