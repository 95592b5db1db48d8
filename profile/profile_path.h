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
 * fileName. A file there that cannot be written (read-only, or the user may
 * not write it) is copied to the temporary directory, a read-only one after
 * its attribute is cleared, and path names the copy; failures leave path
 * naming the program's directory. When that directory cannot be learned
 * whole, path is the temporary directory followed by fileName, or when
 * neither can, fileName alone. */
void LocateProfile(const char* fileName, char (&path)[MAX_PATH]);

}  // namespace tk

#endif
