/* module_directory.cpp -- the directory of a module's file. */
#include <mbstring.h>

#include "base/module_directory.h"

namespace tk {

size_t ModuleDirectory(ModuleFileNameFn moduleFileName, HMODULE module, char (&directory)[MAX_PATH])
{
    DWORD length = moduleFileName(module, directory, MAX_PATH);
    /* A path that fills the buffer comes back cut, and on older systems
     * without its terminator. */
    if (length == 0 || length >= MAX_PATH) {
        directory[0] = '\0';
        return 0;
    }
    directory[length] = '\0';
    /* From the end by characters, so that a trail byte of a double-byte
     * character that equals '\\' is never taken for one. */
    const unsigned char* slash = _mbsrchr(reinterpret_cast<unsigned char*>(directory), '\\');
    size_t kept = slash ? static_cast<size_t>(slash - reinterpret_cast<unsigned char*>(directory)) + 1 : 0;
    directory[kept] = '\0';
    return kept;
}

}  // namespace tk
