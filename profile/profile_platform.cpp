/* profile_platform.cpp -- the system's calls behind the settings profile. */
#include "profile/profile_platform.h"

namespace tk {

constexpr ProfilePlatform kSystemProfilePlatform = {
    GetModuleFileNameA, GetFileAttributesA, SetFileAttributesA, GetTempPathA, CopyFileA, CreateFileA, CloseHandle,
    GetPrivateProfileStringA, WritePrivateProfileStringA,
};

namespace {
Seam<ProfilePlatform> g_seam(kSystemProfilePlatform);
}  // namespace

Seam<ProfilePlatform>& ProfileSeam() { return g_seam; }

}  // namespace tk
