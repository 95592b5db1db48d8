/* profile_path.cpp -- where a settings profile's file lies. */
#include <string.h>

#include "base/handles.h"
#include "base/module_directory.h"
#include "profile/profile_path.h"

namespace tk {

namespace {

typedef UniqueFileHandle<ProfilePlatform, ProfileSeam> FileHandle;

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

/* Writes the temporary directory, with its trailing backslash, into
 * directory and returns its length; an empty text and 0 when it cannot be
 * learned whole. */
size_t TemporaryDirectory(char (&directory)[MAX_PATH])
{
    DWORD length = ProfileSeam().Calls().tempPath(MAX_PATH, directory);
    if (length == 0 || length >= MAX_PATH) {
        directory[0] = '\0';
        return 0;
    }
    return length;
}

/* Whether the user may not write the file. Its access control decides
 * that, whatever its attributes say, and only opening the file for writing
 * asks it; the file is opened for the question alone. A file that another
 * program holds without sharing it says nothing of the user's rights. */
bool WritingDenied(const char* path)
{
    FileHandle file(ProfileSeam().Calls().createFile(path, GENERIC_WRITE,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return !file && GetLastError() == ERROR_ACCESS_DENIED;
}

/* Works on a copy in the temporary directory when the file cannot be
 * written where it lies. A read-only file has its attribute cleared first,
 * so that later profiles find it writable; one whose attribute stays, or
 * that the user may not write, is copied as it is. Only a copy that was
 * made under a path that fits replaces path: a cut path would name some
 * other file. */
void UseWritableCopy(const char* fileName, char (&path)[MAX_PATH])
{
    const ProfilePlatform& platform = ProfileSeam().Calls();
    DWORD attributes = platform.fileAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    /* A directory's read-only flag means something else to the shell, and
     * a directory opens as no file; a settings name that is a directory is
     * left alone. */
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return;
    const bool readOnly = attributes & FILE_ATTRIBUTE_READONLY;
    DWORD kept = attributes & ~FILE_ATTRIBUTE_READONLY;
    /* No attribute left is said with FILE_ATTRIBUTE_NORMAL. */
    if (kept == 0)
        kept = FILE_ATTRIBUTE_NORMAL;
    const bool cleared = readOnly && platform.setFileAttributes(path, kept);
    if (!cleared && !WritingDenied(path))
        return;

    char copy[MAX_PATH];
    size_t used = TemporaryDirectory(copy);
    if (used == 0 || !Append(copy, used, fileName, strlen(fileName)))
        return;
    if (!platform.copyFile(path, copy, FALSE))
        return;
    /* A copy takes its original's attributes, a read-only one too. */
    if (readOnly && !cleared)
        platform.setFileAttributes(copy, kept);
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
    if (used == 0) {
        /* A name without a directory means the Windows directory to the
         * INI functions: other programs' files, and no right to write for
         * most users. The temporary directory is where a profile works
         * when it cannot work beside the program, so the file found there
         * is used as it is. */
        used = TemporaryDirectory(path);
        Append(path, used, fileName, strlen(fileName));
        return;
    }
    Append(path, used, fileName, strlen(fileName));
    UseWritableCopy(fileName, path);
}

}  // namespace tk
