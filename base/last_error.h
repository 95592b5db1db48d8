/* last_error.h -- cleanup that leaves the last-error code alone. */
#ifndef TOOLS_BASE_LAST_ERROR_H
#define TOOLS_BASE_LAST_ERROR_H

#include <windows.h>

namespace tk {

/* Keeps the thread's last-error code across a cleanup or a platform call
 * made on the side, so that a caller who reads it after a failure sees the
 * failure's code. */
class LastErrorKeeper {
public:
    LastErrorKeeper() : saved_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(saved_); }

private:
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;
    DWORD saved_;
};

}  // namespace tk

#endif
