/* profile_path.cpp -- where a settings profile's file lies. */
#include <string.h>

#include "profile/profile_path.h"
#include "runtime/module_directory.h"

namespace tk {

namespace {

/* Appends text to the used characters of field, as far as it fits; returns
 * false when some of it did not. */
bool Append(char (&field)[MAX_PATH], size_t& used, const char* text, size_t length)
{
    size_t room = MAX_PATH - 1 - used;
    bool fits = length <= room;
    if (!fits)
        length = room;
    memcpy(field + used, text, length);
    used += length;
    field[used] = '\0';
    return fits;
}

/* Works on a copy in the temporary directory when the file is read-only.
 * Only a copy that was made under a path that fits replaces path: a cut
 * path would name some other file. */
void UseWritableCopy(const char* fileName, char (&path)[MAX_PATH])
{
    const ProfilePlatform& platform = ProfileSeam().Calls();
    DWORD attributes = platform.fileAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
        return;
    /* A directory's read-only flag means something else to the shell; a
     * settings name that is a directory is left alone. */
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return;
    DWORD kept = attributes & ~FILE_ATTRIBUTE_READONLY;
    /* No attribute left is said with FILE_ATTRIBUTE_NORMAL. */
    if (!platform.setFileAttributes(path, kept ? kept : FILE_ATTRIBUTE_NORMAL))
        return;

    char temp[MAX_PATH + 1];
    DWORD length = platform.tempPath(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH)
        return;
    char copy[MAX_PATH];
    size_t used = 0;
    if (!Append(copy, used, temp, length) || !Append(copy, used, fileName, strlen(fileName)))
        return;
    if (platform.copyFile(path, copy, FALSE))
        CopyToField(path, copy);
}

}  // namespace

void CopyToField(char (&field)[MAX_PATH], const char* text)
{
    size_t used = 0;
    Append(field, used, text ? text : "", text ? strlen(text) : 0);
}

void LocateProfile(const char* fileName, char (&path)[MAX_PATH])
{
    if (!fileName)
        fileName = "";
    size_t used = ModuleDirectory(ProfileSeam().Calls().moduleFileName, nullptr, path);
    Append(path, used, fileName, strlen(fileName));
    UseWritableCopy(fileName, path);
}

}  // namespace tk
