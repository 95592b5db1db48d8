/* handles.h -- owners of the library's module, find, file and other
 * kernel handles.
 *
 * Each subsystem releases its handles through its own seam, so that its
 * tests can watch the release of a handle they stood in; the aliases take
 * the subsystem's platform table and seam, whose table has freeLibrary,
 * findClose or closeHandle:
 *
 *     typedef UniqueModule<LifecyclePlatform, LifecycleSeam> Module; */
#ifndef TOOLS_BASE_HANDLES_H
#define TOOLS_BASE_HANDLES_H

#include <windows.h>

#include "base/seam.h"
#include "base/unique_handle.h"

namespace tk {

template <class Platform, Seam<Platform>& (*seam)()>
struct ModuleTraits {
    typedef HMODULE Handle;
    static HMODULE Empty() { return nullptr; }
    static void Close(HMODULE module) { seam().Calls().freeLibrary(module); }
};

template <class Platform, Seam<Platform>& (*seam)()>
using UniqueModule = UniqueHandle<ModuleTraits<Platform, seam>>;

/* A failed search gives INVALID_HANDLE_VALUE, not null. */
template <class Platform, Seam<Platform>& (*seam)()>
struct FindHandleTraits {
    typedef HANDLE Handle;
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE search) { seam().Calls().findClose(search); }
};

template <class Platform, Seam<Platform>& (*seam)()>
using UniqueFindHandle = UniqueHandle<FindHandleTraits<Platform, seam>>;

/* A file that could not be opened is INVALID_HANDLE_VALUE too. */
template <class Platform, Seam<Platform>& (*seam)()>
struct FileHandleTraits {
    typedef HANDLE Handle;
    static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE file) { seam().Calls().closeHandle(file); }
};

template <class Platform, Seam<Platform>& (*seam)()>
using UniqueFileHandle = UniqueHandle<FileHandleTraits<Platform, seam>>;

/* Other kernel objects (a file mapping, say) that fail as null. */
template <class Platform, Seam<Platform>& (*seam)()>
struct ObjectHandleTraits {
    typedef HANDLE Handle;
    static HANDLE Empty() { return nullptr; }
    static void Close(HANDLE object) { seam().Calls().closeHandle(object); }
};

template <class Platform, Seam<Platform>& (*seam)()>
using UniqueObjectHandle = UniqueHandle<ObjectHandleTraits<Platform, seam>>;

}  // namespace tk

#endif
