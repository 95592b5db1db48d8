/* guarded_buffer.h -- an output buffer with guard bytes on both sides, to
 * see whether a call wrote outside the room it was given. */
#ifndef TOOLS_TESTS_GUARDED_BUFFER_H
#define TOOLS_TESTS_GUARDED_BUFFER_H

#include <stddef.h>
#include <string.h>

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

}  // namespace tktest

#endif
