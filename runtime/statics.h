/* statics.h -- the library's process-wide objects, made when tools.dll is
 * loaded and destroyed when it is unloaded. */
#ifndef TOOLS_RUNTIME_STATICS_H
#define TOOLS_RUNTIME_STATICS_H

#include "tools/runtime.h"
#include "runtime/library_list.h"
#include "runtime/symbol_lookup.h"

namespace tk {

CMemoryException& StaticMemoryException();
CResourceException& StaticResourceException();
CNotImplementedException& StaticNotImplementedException();

/* The libraries that component creation keeps loaded until TkTerminate. */
LibraryList& LoadedLibraries();

/* The one source-line lookup; unstarted until TkInitialize or the first
 * fault text. */
CSymbolLookup& SymbolLookup();

}  // namespace tk

#endif
