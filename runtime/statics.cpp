/* statics.cpp -- all process-wide objects of the library in one place.
 *
 * They are constructed before any other static object of the library, in the
 * order written here, and destroyed in the reverse order after the entry
 * point's unload notification has run TkTerminate. The priorities make the
 * order hold across translation units as well. */
#include "runtime/statics.h"

namespace {

CMemoryException g_memory __attribute__((init_priority(101)));
CResourceException g_resource __attribute__((init_priority(102)));
CNotImplementedException g_notImplemented __attribute__((init_priority(103)));
tk::LibraryList g_libraries __attribute__((init_priority(104)));
tk::CSymbolLookup g_symbols __attribute__((init_priority(105)))(tk::kSystemSymbolLookupPlatform);

}  // namespace

namespace tk {

CMemoryException& StaticMemoryException() { return g_memory; }
CResourceException& StaticResourceException() { return g_resource; }
CNotImplementedException& StaticNotImplementedException() { return g_notImplemented; }
LibraryList& LoadedLibraries() { return g_libraries; }
CSymbolLookup& SymbolLookup() { return g_symbols; }

}  // namespace tk
