/* paths.h -- the folders that tests work in. */
#ifndef TOOLS_TESTS_PATHS_H
#define TOOLS_TESTS_PATHS_H

#include <windows.h>

#include <string>

namespace tktest {

/* The directory of the running test program, with a trailing backslash. */
inline std::string ProgramDirectory()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\') + 1);
}

/* The temporary directory, with a trailing backslash. */
inline std::string TempDirectory()
{
    char path[MAX_PATH];
    DWORD n = GetTempPathA(MAX_PATH, path);
    return std::string(path, n < MAX_PATH ? n : 0);
}

}  // namespace tktest

#endif
