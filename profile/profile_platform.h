/* profile_platform.h -- the platform calls of the settings profile, in one
 * table, so that tests can watch what the INI functions are handed and make
 * the file calls fail. */
#ifndef TOOLS_PROFILE_PROFILE_PLATFORM_H
#define TOOLS_PROFILE_PROFILE_PLATFORM_H

#include <windows.h>

#include "base/seam.h"

namespace tk {

struct ProfilePlatform {
    DWORD (WINAPI* moduleFileName)(HMODULE module, LPSTR path, DWORD capacity);
    DWORD (WINAPI* fileAttributes)(LPCSTR path);
    BOOL (WINAPI* setFileAttributes)(LPCSTR path, DWORD attributes);
    DWORD (WINAPI* tempPath)(DWORD capacity, LPSTR path);
    BOOL (WINAPI* copyFile)(LPCSTR from, LPCSTR to, BOOL failIfExists);
    HANDLE (WINAPI* createFile)(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE model);
    BOOL (WINAPI* closeHandle)(HANDLE handle);
    DWORD (WINAPI* readString)(LPCSTR section, LPCSTR key, LPCSTR fallback, LPSTR text,
                               DWORD capacity, LPCSTR file);
    BOOL (WINAPI* writeString)(LPCSTR section, LPCSTR key, LPCSTR text, LPCSTR file);
};

extern const ProfilePlatform kSystemProfilePlatform;

Seam<ProfilePlatform>& ProfileSeam();

}  // namespace tk

#endif
