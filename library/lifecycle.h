/* lifecycle.h -- the small process-wide state that TkInitialize learns, and
 * the platform calls it learns it with. */
#ifndef TOOLS_LIBRARY_LIFECYCLE_H
#define TOOLS_LIBRARY_LIFECYCLE_H

#include <windows.h>

#include "base/seam.h"

namespace tk {

/* So that tests can report another platform family, fail the version
 * query, and stand in a common-controls library of any version. */
struct LifecyclePlatform {
    BOOL (WINAPI* getVersion)(OSVERSIONINFOA* info);
    HMODULE (WINAPI* loadLibrary)(LPCSTR name);
    FARPROC (WINAPI* getProcAddress)(HMODULE module, LPCSTR name);
    BOOL (WINAPI* freeLibrary)(HMODULE module);
};

extern const LifecyclePlatform kSystemLifecyclePlatform;

Seam<LifecyclePlatform>& LifecycleSeam();

/* Zero at load; plain data, read and written without a lock. */
struct LifecycleState {
    DWORD platformFamily;   /* 0 until TkInitialize, 1 when it could not learn it */
    bool newStyle;          /* never turned off again */
    DWORD cookie;           /* the last number TkGetCookie handed out */
};

LifecycleState& Lifecycle();

/* TkInitialize's second and third steps: the platform family (1 when the
 * version query fails), then the style flag, turned on for the NT family
 * with common controls of major version 6 or later. The common-controls
 * library is loaded only for the version query and freed again. */
void LearnPlatform(LifecycleState& state);

}  // namespace tk

#endif
