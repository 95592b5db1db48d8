/* module_directory.h -- the directory of a module's file. */
#ifndef TOOLS_BASE_MODULE_DIRECTORY_H
#define TOOLS_BASE_MODULE_DIRECTORY_H

#include <windows.h>
#include <stddef.h>

namespace tk {

typedef DWORD (WINAPI* ModuleFileNameFn)(HMODULE module, LPSTR path, DWORD size);

/* Writes the directory of module's file (null: the program's), with its
 * trailing backslash, into directory and returns its length. Writes an empty
 * text and returns 0 when the path cannot be learned, does not fit in
 * MAX_PATH characters (a cut path names some other place), or has no
 * backslash. The path is read through moduleFileName, the caller's own
 * platform call. */
size_t ModuleDirectory(ModuleFileNameFn moduleFileName, HMODULE module, char (&directory)[MAX_PATH]);

}  // namespace tk

#endif
