/* symbol_lookup.cpp -- source lines through the debug-help library. */
#include <mbstring.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "runtime/hresult.h"
#include "runtime/last_error.h"
#include "errors/symbol_lookup.h"
#include "runtime/init_order.h"

namespace tk {

namespace {

/* Deferred symbol loading (0x4) with line information (0x10). */
const DWORD kOptions = 0x14;
/* No box for a missing medium or a file that cannot be opened while the
 * directory is scanned. */
const UINT kQuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
const char kSymbols[] = "symbols";
const char kDatabasePattern[] = "symbols\\*.pdb";

/* Functions of our own rather than the imports, so that the table is
 * constant and complete before any static constructor runs. */
HMODULE WINAPI Load(LPCSTR name) { return LoadLibraryA(name); }
FARPROC WINAPI Entry(HMODULE module, LPCSTR name) { return GetProcAddress(module, name); }
BOOL WINAPI Unload(HMODULE module) { return FreeLibrary(module); }
DWORD WINAPI ModulePath(HMODULE module, LPSTR path, DWORD size) { return GetModuleFileNameA(module, path, size); }
UINT WINAPI ErrorMode(UINT mode) { return SetErrorMode(mode); }
HANDLE WINAPI FindFirst(LPCSTR pattern, WIN32_FIND_DATAA* found) { return FindFirstFileA(pattern, found); }
BOOL WINAPI FindNext(HANDLE search, WIN32_FIND_DATAA* found) { return FindNextFileA(search, found); }
BOOL WINAPI FindEnd(HANDLE search) { return FindClose(search); }
HANDLE WINAPI ThisProcess() { return GetCurrentProcess(); }
void* Reallocate(void* block, size_t bytes) { return realloc(block, bytes); }
void Release(void* block) { free(block); }

/* Sets the quiet error mode for the scan and gives the process back the mode
 * it had, on every way out. */
class QuietErrorMode {
public:
    explicit QuietErrorMode(const SymbolLookupPlatform& platform)
        : platform_(platform), previous_(platform.setErrorMode(kQuietErrorMode)) {}
    ~QuietErrorMode() { platform_.setErrorMode(previous_); }

private:
    QuietErrorMode(const QuietErrorMode&) = delete;
    QuietErrorMode& operator=(const QuietErrorMode&) = delete;

    const SymbolLookupPlatform& platform_;
    UINT previous_;
};

/* Owns a directory search handle. */
class FileSearch {
public:
    FileSearch(const SymbolLookupPlatform& platform, const char* pattern, WIN32_FIND_DATAA* found)
        : platform_(platform), handle_(platform.findFirstFile(pattern, found)) {}
    ~FileSearch()
    {
        if (Valid())
            platform_.findClose(handle_);
    }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    bool Next(WIN32_FIND_DATAA* found) { return platform_.findNextFile(handle_, found) != FALSE; }

private:
    FileSearch(const FileSearch&) = delete;
    FileSearch& operator=(const FileSearch&) = delete;

    const SymbolLookupPlatform& platform_;
    HANDLE handle_;
};

template <typename T>
T EntryPoint(const SymbolLookupPlatform& platform, HMODULE module, const char* name)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(platform.getProcAddress(module, name)));
}

}  // namespace

const SymbolLookupPlatform kSystemSymbolLookupPlatform = {
    Load, Entry, Unload, ModulePath, ErrorMode, FindFirst, FindNext, FindEnd, ThisProcess, Reallocate, Release,
};

namespace {
CSymbolLookup g_symbols __attribute__((init_priority(TK_INIT_SYMBOL_LOOKUP)))(kSystemSymbolLookupPlatform);
}  // namespace

CSymbolLookup& SymbolLookup() { return g_symbols; }

CSymbolLookup::~CSymbolLookup() { ClearDatabases(); }

HRESULT CSymbolLookup::Start()
{
    if (process_ != nullptr)
        return S_FALSE;
    library_ = platform_.loadLibrary("dbghelp");
    if (!library_)
        return FailureFromLastError();
    cleanup_ = EntryPoint<CleanupFn>(platform_, library_, "SymCleanup");
    initialize_ = EntryPoint<InitializeFn>(platform_, library_, "SymInitialize");
    setOptions_ = EntryPoint<SetOptionsFn>(platform_, library_, "SymSetOptions");
    loadModule_ = EntryPoint<LoadModuleFn>(platform_, library_, arch::kLoadModuleEntryPoint);
    unloadModule_ = EntryPoint<UnloadModuleFn>(platform_, library_, arch::kUnloadModuleEntryPoint);
    getLine_ = EntryPoint<GetLineFn>(platform_, library_, arch::kGetLineEntryPoint);

    process_ = platform_.currentProcess();
    if (setOptions_)
        setOptions_(kOptions);
    LearnProgramDirectory();
    ScanSymbolsDirectory();

    char searchPath[MAX_PATH + sizeof kSymbols];
    snprintf(searchPath, sizeof searchPath, "%s%s", directory_, kSymbols);
    HRESULT hr = S_OK;
    if (!initialize_)
        hr = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    else if (!initialize_(process_, searchPath, TRUE))
        hr = FailureFromLastError();
    if (FAILED(hr))
        Unload();
    return hr;
}

HRESULT CSymbolLookup::Stop()
{
    if (process_ == nullptr || !library_)
        return S_OK;
    HRESULT hr = S_OK;
    if (cleanup_ && !cleanup_(process_))
        hr = FailureFromLastError();
    Unload();
    return hr;
}

/* Unloads the library and marks the engine unstarted; the last-error code
 * of a failure that the caller reports stays readable. */
void CSymbolLookup::Unload()
{
    LastErrorKeeper keep;
    platform_.freeLibrary(library_);
    library_ = nullptr;
    process_ = nullptr;
}

SourceLine CSymbolLookup::FindLine(DWORD_PTR address) const
{
    SourceLine result = { SourceLine::kUnavailable, S_OK, nullptr, 0 };
    if (!library_ || !getLine_)
        return result;
    arch::SymbolLine line;
    memset(&line, 0, sizeof line);
    line.SizeOfStruct = sizeof line;
    DWORD displacement = 0;
    if (!getLine_(process_, address, &displacement, &line)) {
        result.outcome = SourceLine::kNotFound;
        result.hr = FromLastError();
        return result;
    }
    result.outcome = SourceLine::kFound;
    result.file = line.FileName;
    result.line = line.LineNumber;
    return result;
}

/* The executable's directory with its trailing backslash. A path that does
 * not fit the buffer would be cut off, so it counts as unknown as well. */
void CSymbolLookup::LearnProgramDirectory()
{
    char path[MAX_PATH];
    DWORD n = platform_.getModuleFileName(nullptr, path, MAX_PATH);
    directory_[0] = '\0';
    if (n == 0 || n >= MAX_PATH)
        return;
    path[n] = '\0';
    /* From the end by characters, so that a backslash byte inside a
     * double-byte character is never taken. */
    unsigned char* slash = _mbsrchr(reinterpret_cast<unsigned char*>(path), '\\');
    if (!slash)
        return;
    slash[1] = '\0';
    memcpy(directory_, path, slash + 2 - reinterpret_cast<unsigned char*>(path));
}

HRESULT CSymbolLookup::ScanSymbolsDirectory()
{
    QuietErrorMode quiet(platform_);
    ClearDatabases();
    char pattern[MAX_PATH + sizeof kDatabasePattern];
    snprintf(pattern, sizeof pattern, "%s%s", directory_, kDatabasePattern);
    WIN32_FIND_DATAA found;
    FileSearch search(platform_, pattern, &found);
    if (!search.Valid())
        return FromLastError();
    do
        AddDatabase(found.cFileName);
    while (search.Next(&found));
    return S_OK;
}

void CSymbolLookup::AddDatabase(const char* fileName)
{
    Database* entry = databases_.Append(platform_.reallocate);
    if (!entry)
        return;
    /* cFileName holds at most MAX_PATH bytes with its terminator. */
    lstrcpynA(entry->title, fileName, MAX_PATH);
    unsigned char* dot = _mbsrchr(reinterpret_cast<unsigned char*>(entry->title), '.');
    if (dot)
        *dot = '\0';
    entry->word = 0;
}

void CSymbolLookup::ClearDatabases() { databases_.Clear(platform_.release); }

}  // namespace tk
