/* module_calls.h -- the system's module calls as functions of the library's
 * own, for the platform tables.
 *
 * An import's address is read from the import table at run time; the
 * address of a function of our own is a constant, so a table that points
 * here is complete before any static constructor runs. */
#ifndef TOOLS_BASE_MODULE_CALLS_H
#define TOOLS_BASE_MODULE_CALLS_H

#include <windows.h>

namespace tk {

inline HMODULE WINAPI SystemLoadLibrary(LPCSTR name) { return LoadLibraryA(name); }
inline FARPROC WINAPI SystemGetProcAddress(HMODULE module, LPCSTR name) { return GetProcAddress(module, name); }
inline BOOL WINAPI SystemFreeLibrary(HMODULE module) { return FreeLibrary(module); }
inline DWORD WINAPI SystemModuleFileName(HMODULE module, LPSTR path, DWORD size)
{
    return GetModuleFileNameA(module, path, size);
}

}  // namespace tk

#endif
