/* lookup_lock.h -- one caller at a time in the process's source-line
 * lookup, which keeps no lock of its own: a fault's text restarts it, a
 * call stack's names read what it keeps of the modules, and the library's
 * start and end start and stop it. */
#ifndef TOOLS_SOURCELINE_LOOKUP_LOCK_H
#define TOOLS_SOURCELINE_LOOKUP_LOCK_H

#include <windows.h>

namespace tk {

/* Holds the lookup for its scope; not to be nested on one thread. */
class LookupLock {
public:
    LookupLock() { AcquireSRWLockExclusive(&lock_); }
    ~LookupLock() { ReleaseSRWLockExclusive(&lock_); }

private:
    LookupLock(const LookupLock&) = delete;
    LookupLock& operator=(const LookupLock&) = delete;

    static inline SRWLOCK lock_ = SRWLOCK_INIT;
};

}  // namespace tk

#endif
