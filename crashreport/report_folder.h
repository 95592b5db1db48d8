/* report_folder.h -- where crash reports go, and what they are named by. */
#ifndef TOOLS_CRASHREPORT_REPORT_FOLDER_H
#define TOOLS_CRASHREPORT_REPORT_FOLDER_H

#include <windows.h>

namespace tk {

/* The folder that TkSetCrashReport(folder) writes reports to, with a
 * trailing backslash, into chosen: folder itself, made with its parents
 * where missing; for an empty text the program's folder, or the user's
 * temporary folder where the program's cannot be written. Each is tried
 * by making a file in it. S_OK; E_INVALIDARG when folder names a file or
 * the path does not fit; else the converted last-error code of the
 * failure. */
HRESULT ChooseReportFolder(const char* folder, char* chosen, size_t size);

/* The program's path, and its file name without the extension. False, with
 * the system's last-error code, when the path cannot be learned. */
bool ProgramNames(char* path, size_t pathSize, char* title, size_t titleSize);

}  // namespace tk

#endif
