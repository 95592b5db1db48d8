/* profile_platform.cpp -- the system's calls behind the settings profile. */
#include "base/module_calls.h"
#include "profile/profile_platform.h"

namespace tk {

namespace {

/* Our own functions rather than the imports, so that the table is constant
 * and complete before any static constructor runs. */
DWORD WINAPI FileAttributes(LPCSTR p) { return GetFileAttributesA(p); }
BOOL WINAPI SetAttributes(LPCSTR p, DWORD a) { return SetFileAttributesA(p, a); }
DWORD WINAPI TempPath(DWORD n, LPSTR p) { return GetTempPathA(n, p); }
BOOL WINAPI Copy(LPCSTR from, LPCSTR to, BOOL failIfExists) { return CopyFileA(from, to, failIfExists); }
HANDLE WINAPI Open(LPCSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f, HANDLE m)
{
    return CreateFileA(p, a, s, sa, d, f, m);
}
BOOL WINAPI Close(HANDLE h) { return CloseHandle(h); }
DWORD WINAPI ReadString(LPCSTR s, LPCSTR k, LPCSTR d, LPSTR t, DWORD n, LPCSTR f)
{
    return GetPrivateProfileStringA(s, k, d, t, n, f);
}
BOOL WINAPI WriteString(LPCSTR s, LPCSTR k, LPCSTR t, LPCSTR f) { return WritePrivateProfileStringA(s, k, t, f); }

}  // namespace

const ProfilePlatform kSystemProfilePlatform = {
    SystemModuleFileName, FileAttributes, SetAttributes, TempPath, Copy, Open, Close, ReadString, WriteString
};

namespace {
Seam<ProfilePlatform> g_seam(kSystemProfilePlatform);
}  // namespace

Seam<ProfilePlatform>& ProfileSeam() { return g_seam; }

}  // namespace tk
