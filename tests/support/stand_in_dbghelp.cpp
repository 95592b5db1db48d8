/* stand_in_dbghelp.cpp -- a scripted debug-help library. */
#include <string.h>

#include <gtest/gtest.h>

#include "support/scripted_heap.h"
#include "support/stand_in_dbghelp.h"

namespace tktest {

namespace {

DebugHelpScript g;
char g_handed[64];

BOOL WINAPI Cleanup(HANDLE)
{
    ++g.calls;
    ++g.cleanups;
    memset(g_handed, '#', sizeof g_handed - 1);
    SetLastError(g.cleanupError);
    return !g.cleanupError && !g.failWithoutError;
}
BOOL WINAPI Initialize(HANDLE process, PCSTR path, BOOL invade)
{
    ++g.calls;
    g.initializedProcess = process;
    g.searchPath = path;
    g.invade = invade;
    SetLastError(g.initializeError);
    return !g.initializeError && !g.failWithoutError;
}
DWORD WINAPI SetOptions(DWORD options)
{
    ++g.calls;
    ++g.setOptionsCalls;
    g.options = options;
    return options;
}
tk::dbghelp::SymbolAddress WINAPI LoadModule(HANDLE, HANDLE, PCSTR, PCSTR, tk::dbghelp::SymbolAddress, DWORD)
{
    ++g.calls;
    return 0;
}
BOOL WINAPI UnloadModule(HANDLE, tk::dbghelp::SymbolAddress)
{
    ++g.calls;
    return TRUE;
}
BOOL WINAPI GetLine(HANDLE, tk::dbghelp::SymbolAddress address, PDWORD, tk::dbghelp::SymbolLine* line)
{
    ++g.calls;
    g.lineSeen = *line;
    SetLastError(g.lineError);
    if (g.lineError || !g.lineAddress || address != g.lineAddress)
        return FALSE;
    strcpy(g_handed, kStandInSource);
    line->FileName = g_handed;
    line->LineNumber = kStandInLine;
    return TRUE;
}

HMODULE WINAPI Load(LPCSTR name)
{
    ++g.calls;
    ++g.loads;
    EXPECT_STREQ(name, "dbghelp");
    SetLastError(g.loadError);
    return g.loadError ? nullptr : kStandInLibrary;
}
FARPROC WINAPI Entry(HMODULE module, LPCSTR name)
{
    ++g.calls;
    EXPECT_EQ(module, kStandInLibrary);
    g.entries.push_back(name);
    for (const std::string& m : g.missing)
        if (m == name)
            return nullptr;
    const std::string n = name;
    void* f = n == "SymCleanup" ? reinterpret_cast<void*>(Cleanup)
        : n == "SymInitialize" ? reinterpret_cast<void*>(Initialize)
        : n == "SymSetOptions" ? reinterpret_cast<void*>(SetOptions)
        : n == tk::dbghelp::kLoadModuleEntryPoint ? reinterpret_cast<void*>(LoadModule)
        : n == tk::dbghelp::kUnloadModuleEntryPoint ? reinterpret_cast<void*>(UnloadModule)
        : n == tk::dbghelp::kGetLineEntryPoint ? reinterpret_cast<void*>(GetLine) : nullptr;
    return reinterpret_cast<FARPROC>(f);
}
BOOL WINAPI Free(HMODULE)
{
    ++g.calls;
    ++g.frees;
    return TRUE;
}
DWORD WINAPI ModulePath(HMODULE module, LPSTR path, DWORD size)
{
    ++g.calls;
    EXPECT_EQ(module, nullptr) << "the executable's path, not the library's";
    EXPECT_EQ(size, static_cast<DWORD>(MAX_PATH));
    if (!g.programPath)
        return 0;
    lstrcpynA(path, g.programPath, size);
    return g.pathLength ? g.pathLength : lstrlenA(path);
}
UINT WINAPI ErrorMode(UINT mode)
{
    ++g.calls;
    g.errorModes.push_back(mode);
    UINT previous = g.errorMode;
    g.errorMode = mode;
    return previous;
}
BOOL WINAPI FindNext(HANDLE search, WIN32_FIND_DATAA* found)
{
    ++g.calls;
    EXPECT_EQ(search, kStandInSearch);
    if (g.throwInScan)
        throw 1;
    if (g.nextFile >= g.files.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    lstrcpynA(found->cFileName, g.files[g.nextFile++].c_str(), MAX_PATH);
    return TRUE;
}
HANDLE WINAPI FindFirst(LPCSTR pattern, WIN32_FIND_DATAA* found)
{
    ++g.calls;
    g.pattern = pattern;
    g.nextFile = 0;
    if (g.files.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    lstrcpynA(found->cFileName, g.files[g.nextFile++].c_str(), MAX_PATH);
    return kStandInSearch;
}
BOOL WINAPI FindEnd(HANDLE search)
{
    ++g.calls;
    ++g.searchesClosed;
    EXPECT_EQ(search, kStandInSearch);
    return TRUE;
}
HANDLE WINAPI Process()
{
    ++g.calls;
    return kStandInProcess;
}

}  // namespace

DebugHelpScript& DebugHelp() { return g; }

DebugHelpScript NewDebugHelpScript()
{
    DebugHelpScript script = DebugHelpScript();
    script.lineAddress = kStandInCode;
    return script;
}

const char* HandedFileName() { return g_handed; }

const tk::SymbolLookupPlatform kStandInDebugHelp = {
    Load, Entry, Free, ModulePath, ErrorMode, FindFirst, FindNext, FindEnd, Process, ScriptedReallocate,
    ScriptedRelease,
};

}  // namespace tktest
