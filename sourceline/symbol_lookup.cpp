/* symbol_lookup.cpp -- source lines through the debug-help library. */
#include <mbstring.h>
#include <stdio.h>
#include <string.h>

#include "base/allocation.h"
#include "base/hresult.h"
#include "base/init_order.h"
#include "base/last_error.h"
#include "base/module_directory.h"
#include "sourceline/symbol_lookup.h"

namespace tk {

namespace {

/* Deferred symbol loading (0x4) with line information (0x10). */
const DWORD kOptions = 0x14;
/* No box for a missing medium or a file that cannot be opened while the
 * directory is scanned. */
const UINT kQuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
const char kSymbols[] = "symbols";
const char kDatabasePattern[] = "symbols\\*.pdb";

/* The error mode that the scan gives back to the process. A mode is a set
 * of the system's few flags, so all bits set is never one. */
struct ErrorModeTraits {
    typedef UINT Handle;
    static UINT Empty() { return ~0u; }
    static void Close(UINT previous) { SymbolLookupSeam().Calls().setErrorMode(previous); }
};

template <typename T>
T EntryPoint(const SymbolLookupPlatform& platform, HMODULE module, const char* name)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(platform.getProcAddress(module, name)));
}

}  // namespace

constexpr SymbolLookupPlatform kSystemSymbolLookupPlatform = {
    LoadLibraryA, GetProcAddress, FreeLibrary, GetModuleFileNameA, SetErrorMode, FindFirstFileA, FindNextFileA,
    FindClose, GetCurrentProcess, Reallocate, Release,
};

namespace {
Seam<SymbolLookupPlatform> g_seam(kSystemSymbolLookupPlatform);
CSymbolLookup g_symbols __attribute__((init_priority(TK_INIT_SYMBOL_LOOKUP)));
}  // namespace

Seam<SymbolLookupPlatform>& SymbolLookupSeam() { return g_seam; }

CSymbolLookup& SymbolLookup() { return g_symbols; }

CSymbolLookup::~CSymbolLookup()
{
    library_.Release();
    ClearDatabases();
    texts_.Clear(SymbolLookupSeam().Calls().release);
}

HRESULT CSymbolLookup::Start()
{
    if (process_ != nullptr)
        return S_FALSE;
    const SymbolLookupPlatform& platform = SymbolLookupSeam().Calls();
    library_.Reset(platform.loadLibrary("dbghelp"));
    if (!library_)
        return FailureFromLastError();
    const HMODULE library = library_.Get();
    cleanup_ = EntryPoint<CleanupFn>(platform, library, "SymCleanup");
    initialize_ = EntryPoint<InitializeFn>(platform, library, "SymInitialize");
    setOptions_ = EntryPoint<SetOptionsFn>(platform, library, "SymSetOptions");
    loadModule_ = EntryPoint<LoadModuleFn>(platform, library, dbghelp::kLoadModuleEntryPoint);
    unloadModule_ = EntryPoint<UnloadModuleFn>(platform, library, dbghelp::kUnloadModuleEntryPoint);
    getLine_ = EntryPoint<GetLineFn>(platform, library, dbghelp::kGetLineEntryPoint);

    process_ = platform.currentProcess();
    if (setOptions_)
        setOptions_(kOptions);
    ModuleDirectory(platform.getModuleFileName, nullptr, directory_);
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
    if (process_ == nullptr || !library_.Valid())
        return S_OK;
    HRESULT hr = S_OK;
    if (cleanup_ && !cleanup_(process_))
        hr = FailureFromLastError();
    Unload();
    return hr;
}

/* The owner's release keeps the last-error code of the failure that the
 * caller reports. */
void CSymbolLookup::Unload()
{
    library_.Reset();
    process_ = nullptr;
    fromAddress_ = nullptr;
    fromAddressSought_ = false;
}

SourceLine CSymbolLookup::AskDebugHelp(DWORD_PTR address) const
{
    SourceLine result = { SourceLine::kUnavailable, S_OK, nullptr, 0 };
    if (!library_.Valid() || !getLine_)
        return result;
    dbghelp::SymbolLine line;
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

SourceLine CSymbolLookup::FindLine(DWORD_PTR address)
{
    SourceLine result = AskDebugHelp(address);
    if (result.outcome == SourceLine::kFound)
        return result;
    const LastErrorKeeper keep;
    ModuleCache::View view;
    unsigned line = 0;
    if (modules_.Open(address, &view) &&
        view.module->lines.Find(view.sections, view.rva, path_, sizeof path_, &line)) {
        result.outcome = SourceLine::kFound;
        result.hr = S_OK;
        result.file = path_;
        result.line = line;
    }
    return result;
}

void CSymbolLookup::ScanSymbolsDirectory()
{
    const SymbolLookupPlatform& platform = SymbolLookupSeam().Calls();
    const UniqueHandle<ErrorModeTraits> restoreErrorMode(platform.setErrorMode(kQuietErrorMode));
    ClearDatabases();
    char pattern[MAX_PATH + sizeof kDatabasePattern];
    snprintf(pattern, sizeof pattern, "%s%s", directory_, kDatabasePattern);
    WIN32_FIND_DATAA found;
    const UniqueFindHandle<SymbolLookupPlatform, SymbolLookupSeam> search(platform.findFirstFile(pattern, &found));
    if (!search)
        return;
    do
        AddDatabase(found.cFileName);
    while (platform.findNextFile(search.Get(), &found));
}

void CSymbolLookup::AddDatabase(const char* fileName)
{
    Database* entry = databases_.Append(SymbolLookupSeam().Calls().reallocate);
    if (!entry)
        return;
    /* cFileName holds at most MAX_PATH bytes with its terminator. */
    lstrcpynA(entry->title, fileName, MAX_PATH);
    unsigned char* dot = _mbsrchr(reinterpret_cast<unsigned char*>(entry->title), '.');
    if (dot)
        *dot = '\0';
    entry->word = 0;
}

void CSymbolLookup::ClearDatabases() { databases_.Clear(SymbolLookupSeam().Calls().release); }

}  // namespace tk
