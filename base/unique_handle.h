/* unique_handle.h -- the one owner of a platform handle.
 *
 * UniqueHandle<Traits> owns one handle and releases it exactly once: when it
 * is reset, assigned or destroyed. The traits name the handle type, the value
 * that holds nothing, and the release call:
 *
 *     struct ModuleTraits {
 *         typedef HMODULE Handle;
 *         static HMODULE Empty() { return nullptr; }
 *         static void Close(HMODULE module) { FreeLibrary(module); }
 *     };
 *
 * A handle may be a small struct of the values that its release needs (a
 * window and its drawing context); Handle then compares with ==. The release
 * runs with the thread's last-error code kept, so that a failure's code
 * survives the cleanup after it; a caller who needs the release's own result
 * takes the handle out with Release() and makes the call itself. */
#ifndef TOOLS_BASE_UNIQUE_HANDLE_H
#define TOOLS_BASE_UNIQUE_HANDLE_H

#include "base/last_error.h"

namespace tk {

template <class Traits>
class UniqueHandle {
public:
    typedef typename Traits::Handle Handle;

    UniqueHandle() noexcept : handle_(Traits::Empty()) {}
    explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    Handle Get() const noexcept { return handle_; }
    bool Valid() const noexcept { return !(handle_ == Traits::Empty()); }
    explicit operator bool() const noexcept { return Valid(); }

    /* Gives the handle up without releasing it. */
    Handle Release() noexcept
    {
        Handle handle = handle_;
        handle_ = Traits::Empty();
        return handle;
    }

    /* Releases the handle held, if any, and takes handle instead. */
    void Reset(Handle handle = Traits::Empty()) noexcept
    {
        if (Valid()) {
            LastErrorKeeper keep;
            Traits::Close(handle_);
        }
        handle_ = handle;
    }

private:
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Handle handle_;
};

}  // namespace tk

#endif
