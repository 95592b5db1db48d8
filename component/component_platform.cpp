/* component_platform.cpp -- the system's calls for component creation. */
#include "component/component_platform.h"
#include "runtime/allocation.h"

namespace tk {

namespace {
/* Functions of our own rather than the imports, so that the table is
 * constant and complete before any static constructor runs. */
HMODULE WINAPI Load(LPCSTR name) { return LoadLibraryA(name); }
FARPROC WINAPI Entry(HMODULE module, LPCSTR name) { return GetProcAddress(module, name); }
BOOL WINAPI Unload(HMODULE module) { return FreeLibrary(module); }
}  // namespace

const ComponentPlatform kSystemComponentPlatform = { Load, Entry, Unload, Reallocate, Release };

namespace {
Seam<ComponentPlatform> g_seam(kSystemComponentPlatform);
}  // namespace

Seam<ComponentPlatform>& ComponentSeam() { return g_seam; }

}  // namespace tk
