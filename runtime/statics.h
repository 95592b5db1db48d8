/* statics.h -- the library's process-wide objects, made when tools.dll is
 * loaded and destroyed when it is unloaded. */
#ifndef TOOLS_RUNTIME_STATICS_H
#define TOOLS_RUNTIME_STATICS_H

#include "tools/runtime.h"
#include "runtime/library_list.h"

namespace tk {

CMemoryException& StaticMemoryException();
CResourceException& StaticResourceException();
CNotImplementedException& StaticNotImplementedException();

/* The libraries that component creation keeps loaded until TkTerminate. */
LibraryList& LoadedLibraries();

}  // namespace tk

#endif
