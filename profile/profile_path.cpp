/* profile_path.cpp -- where a settings profile's file lies. */
#include <mbstring.h>
#include <string.h>

#include "profile/profile_path.h"

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

/* The program's directory with its trailing backslash, or an empty text
 * when the module path has no backslash. */
size_t ProgramDirectory(const ProfilePlatform& platform, char (&directory)[MAX_PATH])
{
    DWORD length = platform.moduleFileName(nullptr, directory, MAX_PATH);
    /* A path that fills the buffer may come back without a terminator. */
    if (length >= MAX_PATH)
        length = MAX_PATH - 1;
    directory[length] = '\0';
    /* A trail byte of a double-byte character may equal '\\'; the
     * multibyte scan steps over such characters as a whole. */
    const unsigned char* slash = _mbsrchr(reinterpret_cast<unsigned char*>(directory), '\\');
    size_t kept = slash ? static_cast<size_t>(slash - reinterpret_cast<unsigned char*>(directory)) + 1 : 0;
    directory[kept] = '\0';
    return kept;
}

/* Works on a copy in the temporary directory when the file is read-only.
 * Only a copy that was made under a path that fits replaces path: a cut
 * path would name some other file. */
void UseWritableCopy(const ProfilePlatform& platform, const char* fileName, char (&path)[MAX_PATH])
{
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

void LocateProfile(const ProfilePlatform& platform, const char* fileName, char (&path)[MAX_PATH])
{
    if (!fileName)
        fileName = "";
    size_t used = ProgramDirectory(platform, path);
    Append(path, used, fileName, strlen(fileName));
    UseWritableCopy(platform, fileName, path);
}

}  // namespace tk
