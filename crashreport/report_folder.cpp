/* report_folder.cpp -- where crash reports go. */
#include <string.h>

#include "base/hresult.h"
#include "base/last_error.h"
#include "crashreport/report_folder.h"

namespace tk {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

/* Makes path's folders from the first missing one down. */
bool MakeFolders(char* path)
{
    const size_t length = strlen(path);
    /* Past a drive ("C:\") or a share's name ("\\server\share\"). */
    size_t from = 0;
    if (length >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        int separators = 0;
        for (from = 2; from < length && separators < 2; ++from)
            separators += IsSeparator(path[from]);
    } else if (length >= 2 && path[1] == ':') {
        from = 3;
    }
    for (size_t i = from; i <= length; ++i) {
        if (i < length && !IsSeparator(path[i]))
            continue;
        const char kept = path[i];
        path[i] = '\0';
        const bool made = !path[0] || CreateDirectoryA(path, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
        path[i] = kept;
        if (!made)
            return false;
    }
    return true;
}

/* Whether a file can be made in folder (with its trailing backslash). */
HRESULT Writable(const char* folder)
{
    char probe[MAX_PATH + 32];
    if (strlen(folder) + 24 >= sizeof probe)
        return E_INVALIDARG;
    strcpy(probe, folder);
    strcat(probe, "crash-report-probe.tmp");
    HANDLE file = CreateFileA(probe, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return FailureFromLastError();
    CloseHandle(file);
    return S_OK;
}

HRESULT Ended(const char* folder, char* chosen, size_t size)
{
    const size_t length = strlen(folder);
    const bool separated = length && IsSeparator(folder[length - 1]);
    if (length + 2 > size || length + 2 > MAX_PATH)
        return E_INVALIDARG;
    strcpy(chosen, folder);
    if (!separated)
        strcat(chosen, "\\");
    return S_OK;
}

}  // namespace

HRESULT ChooseReportFolder(const char* folder, char* chosen, size_t size)
{
    if (!*folder) {
        char own[MAX_PATH];
        const DWORD n = GetModuleFileNameA(nullptr, own, sizeof own);
        if (n && n < sizeof own) {
            *(strrchr(own, '\\') ? strrchr(own, '\\') + 1 : own) = '\0';
            if (SUCCEEDED(Ended(own, chosen, size)) && SUCCEEDED(Writable(chosen)))
                return S_OK;
        }
        char temp[MAX_PATH];
        const DWORD t = GetTempPathA(sizeof temp, temp);
        if (!t || t >= sizeof temp)
            return FailureFromLastError();
        const HRESULT hr = Ended(temp, chosen, size);
        return FAILED(hr) ? hr : Writable(chosen);
    }
    const HRESULT hr = Ended(folder, chosen, size);
    if (FAILED(hr))
        return hr;
    const DWORD attributes = GetFileAttributesA(chosen);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return E_INVALIDARG;
    /* A path whose last part names a file, given with a backslash, reads
     * as that file's folder only without it. */
    char bare[MAX_PATH];
    strcpy(bare, chosen);
    bare[strlen(bare) - 1] = '\0';
    const DWORD bareAttributes = GetFileAttributesA(bare);
    if (bareAttributes != INVALID_FILE_ATTRIBUTES && !(bareAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return E_INVALIDARG;
    if (attributes == INVALID_FILE_ATTRIBUTES && !MakeFolders(bare))
        return FailureFromLastError();
    return Writable(chosen);
}

bool ProgramNames(char* path, size_t pathSize, char* title, size_t titleSize)
{
    const DWORD n = GetModuleFileNameA(nullptr, path, static_cast<DWORD>(pathSize));
    if (!n || n >= pathSize) {
        if (n)
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    const char* name = strrchr(path, '\\') ? strrchr(path, '\\') + 1 : path;
    lstrcpynA(title, name, static_cast<int>(titleSize));
    if (char* dot = strrchr(title, '.'))
        *dot = '\0';
    return true;
}

}  // namespace tk
