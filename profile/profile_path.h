/* profile_path.h -- where a settings profile's file lies. */
#ifndef TOOLS_PROFILE_PROFILE_PATH_H
#define TOOLS_PROFILE_PROFILE_PATH_H

#include <windows.h>

#include "profile/profile_platform.h"

namespace tk {

/* Copies text into field, a fixed field of MAX_PATH characters, cutting it
 * to MAX_PATH - 1 characters; a null text counts as empty. */
void CopyToField(char (&field)[MAX_PATH], const char* text);

/* Fills path with the directory of the calling program followed by
 * fileName, then applies the read-only rule: a read-only file has the
 * attribute cleared and is copied to the temporary directory, and path
 * names the copy. Failures leave path naming the program's directory. A
 * program path too long to learn whole gives no directory: the name alone. */
void LocateProfile(const char* fileName, char (&path)[MAX_PATH]);

}  // namespace tk

#endif
