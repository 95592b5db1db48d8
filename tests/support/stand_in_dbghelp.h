/* stand_in_dbghelp.h -- a debug-help library that the source-line lookup's
 * seam loads in place of the platform's: it follows a test's script and
 * records every call. Its heap entries are the scripted heap's. */
#ifndef TOOLS_TESTS_STAND_IN_DBGHELP_H
#define TOOLS_TESTS_STAND_IN_DBGHELP_H

#include <windows.h>

#include <string>
#include <vector>

#include "sourceline/symbol_lookup.h"

namespace tktest {

/* What the stand-in answers with. */
const HMODULE kStandInLibrary = reinterpret_cast<HMODULE>(0x50000000);
const HANDLE kStandInSearch = reinterpret_cast<HANDLE>(0x600);
const HANDLE kStandInProcess = reinterpret_cast<HANDLE>(0x77);
/* The address whose line the stand-in knows by default. No module holds
 * it, so the modules' own line tables never answer for it. */
const DWORD_PTR kStandInCode = 0x1000;
const char kStandInSource[] = "C:\\Bench\\Velquor\\cpu.cpp";
const DWORD kStandInLine = 42;

struct DebugHelpScript {
    /* What the stand-in does. */
    const char* programPath;            /* null: the path is not available */
    DWORD pathLength;                   /* 0: the length of programPath */
    DWORD loadError;                    /* non-zero: the load fails with it */
    DWORD initializeError, cleanupError, lineError;
    bool failWithoutError;              /* initialisation and clean-up fail, last error 0 */
    DWORD_PTR lineAddress;              /* the one address with a line; 0 for none */
    std::vector<std::string> missing;   /* entry points the library lacks */
    std::vector<std::string> files;     /* what the directory search finds */
    bool throwInScan;

    /* What it saw. */
    int calls;                          /* every call but the heap's */
    int loads, frees, cleanups, setOptionsCalls, searchesClosed;
    std::vector<std::string> entries;
    DWORD options;
    HANDLE initializedProcess;
    std::string searchPath, pattern;
    BOOL invade;
    UINT errorMode;
    std::vector<UINT> errorModes;
    tk::dbghelp::SymbolLine lineSeen;
    size_t nextFile;
};

/* The script, started anew with DebugHelp() = NewDebugHelpScript(): the
 * line known at kStandInCode, the rest as for a library that works. */
DebugHelpScript& DebugHelp();
DebugHelpScript NewDebugHelpScript();

/* The text a found line hands out: the stand-in's own storage, which its
 * clean-up overwrites, as the end of a real engine start frees it. */
const char* HandedFileName();

extern const tk::SymbolLookupPlatform kStandInDebugHelp;

}  // namespace tktest

#endif
