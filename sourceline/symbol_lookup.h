/* symbol_lookup.h -- source file and line of a code address, through the
 * platform's debug-help library loaded at run time, and where that finds
 * none, from the module's own debug information; and the names of the
 * functions, compiled and inlined, that a frame of a call stack stands for.
 *
 * One process-wide object (tk::SymbolLookup()) serves the library:
 * TkInitialize starts it, TkTerminate stops it and frees what it read of
 * the modules, and every fault text restarts it before it asks for a line.
 * It takes no lock; its callers run one at a time. */
#ifndef TOOLS_SOURCELINE_SYMBOL_LOOKUP_H
#define TOOLS_SOURCELINE_SYMBOL_LOOKUP_H

#include <windows.h>
#include <imagehlp.h>

#include "base/growable_array.h"
#include "base/handles.h"
#include "base/seam.h"
#include "sourceline/dbghelp_calls.h"
#include "sourceline/frame_names.h"
#include "sourceline/module_cache.h"
#include "sourceline/text_pool.h"

namespace tk {

/* The platform calls of the lookup, so that tests can stand in a debug-help
 * library of their own, a program path, a symbols directory and the error
 * mode, make the list's growth fail, and count what is called. */
struct SymbolLookupPlatform {
    HMODULE (WINAPI* loadLibrary)(LPCSTR name);
    FARPROC (WINAPI* getProcAddress)(HMODULE module, LPCSTR name);
    BOOL (WINAPI* freeLibrary)(HMODULE module);
    DWORD (WINAPI* getModuleFileName)(HMODULE module, LPSTR path, DWORD size);
    UINT (WINAPI* setErrorMode)(UINT mode);
    HANDLE (WINAPI* findFirstFile)(LPCSTR pattern, WIN32_FIND_DATAA* found);
    BOOL (WINAPI* findNextFile)(HANDLE search, WIN32_FIND_DATAA* found);
    BOOL (WINAPI* findClose)(HANDLE search);
    HANDLE (WINAPI* currentProcess)();
    void* (*reallocate)(void* block, size_t bytes);
    void (*release)(void* block);
};

extern const SymbolLookupPlatform kSystemSymbolLookupPlatform;

Seam<SymbolLookupPlatform>& SymbolLookupSeam();

/* What FindLine learned. */
struct SourceLine {
    enum Outcome {
        kFound,         /* file and line are set */
        kNotFound,      /* hr is the converted last-error code, possibly 0 */
        kUnavailable    /* no debug-help library, or no line entry point */
    };
    Outcome outcome;
    HRESULT hr;
    /* The debug-help library's own text, valid only until the next Stop;
     * or the module reader's, valid only until the next FindLine,
     * NameFrame or ReleaseModules. */
    const char* file;
    DWORD line;
};

class CSymbolLookup {
public:
    typedef BOOL (WINAPI* CleanupFn)(HANDLE process);
    typedef BOOL (WINAPI* InitializeFn)(HANDLE process, PCSTR searchPath, BOOL invadeProcess);
    typedef DWORD (WINAPI* SetOptionsFn)(DWORD options);
    /* The module and line entry points of the target's width. */
    typedef dbghelp::LoadModuleFn LoadModuleFn;
    typedef dbghelp::UnloadModuleFn UnloadModuleFn;
    typedef dbghelp::GetLineFn GetLineFn;
    typedef dbghelp::FromAddressFn FromAddressFn;

    /* A program-database file found in the symbols directory. */
    struct Database {
        char title[MAX_PATH];   /* file name without its last extension */
        DWORD word;             /* always 0 */
    };

    /* Unstarted: no library, no process, empty directory and list. Makes no
     * platform call, so it may be a static object of the library. */
    CSymbolLookup()
        : process_(nullptr), directory_(), databases_(), cleanup_(nullptr), initialize_(nullptr),
          setOptions_(nullptr), loadModule_(nullptr), unloadModule_(nullptr), getLine_(nullptr),
          fromAddress_(nullptr), fromAddressSought_(false), modulesOnly_(false), path_() {}
    /* Releases the list and what was kept of the modules. Neither calls
     * into the debug-help library nor frees it: TkTerminate has stopped it
     * by then, unless the process is ending, when other libraries may be
     * gone already. */
    ~CSymbolLookup();

    /* S_FALSE when already started, without any platform call. Otherwise
     * loads "dbghelp", looks up its entry points, takes the current-process
     * handle, sets options 0x14, learns the program's directory, rebuilds
     * the list from <directory>symbols\*.pdb and initialises symbol
     * handling with the search path <directory>symbols. S_OK when that
     * succeeded. A start that fails (the load, or the initialisation; a
     * library without SymInitialize gives ERROR_PROC_NOT_FOUND's HRESULT)
     * returns the converted last-error code, or E_FAIL when there is none,
     * unloads the library again and leaves the object unstarted, so the
     * next start tries afresh.
     *
     * The handle is the real one on every platform family: the process id,
     * which older debug-help libraries took off the NT family, makes
     * SymInitialize fail where the NT family has not been learned yet
     * (before TkInitialize) or is not reported. */
    HRESULT Start();

    /* S_OK when not started. Otherwise ends symbol handling (SymCleanup),
     * unloads the library and becomes unstarted, whatever the clean-up
     * answered: S_OK, or the failed clean-up's converted last-error code
     * (E_FAIL when there is none). A library without SymCleanup has nothing
     * to clean up. Directory, list and entry points stay. */
    HRESULT Stop();

    /* The source file and line of a code address; see SourceLine. The
     * debug-help library is asked first. Where it finds no line, or is not
     * loaded, the module that holds the address is read (ModuleCache):
     * its line is found then; where that finds none either, the result is
     * the debug-help library's own, and the thread's last-error code is
     * the one that library left. */
    SourceLine FindLine(DWORD_PTR address);

    /* Names the code at address: the function compiled there and the calls
     * inlined into it (see FrameNames). The caller passes the faulting
     * instruction's address, or a return address minus 1. Each function's
     * name comes from the first of: the module's DWARF (the inlined calls
     * with it), its COFF symbol table, its exports, and the debug-help
     * library's SymFromAddr for a symbol of a program database (never one
     * it took from the exports itself); the innermost file and line from
     * the module's line tables, else from the debug-help library. Starts
     * the debug-help library when it is not started; never restarts it.
     * Texts stay valid until the next NameFrame, FindLine, ReleaseModules
     * or Stop. False when nothing at all is known (names->module may still
     * be set). Never faults on damaged debug information; the thread's
     * last-error code is left as it was. */
    bool NameFrame(DWORD_PTR address, FrameNames* names);

    /* From now on NameFrame never starts the debug-help library: for a
     * lookup that must not depend on the process's heap, from which that
     * library allocates. */
    void UseModulesOnly() { modulesOnly_ = true; }

    /* Names the frames of one stack for the scope's life: a debug file that
     * a stripped module links to is mapped once for all of them rather
     * than once a frame, and unmapped at the scope's end. */
    class StackScope {
    public:
        explicit StackScope(CSymbolLookup& lookup) : lookup_(lookup) { lookup_.modules_.Hold(true); }
        ~StackScope() { lookup_.modules_.Hold(false); }

    private:
        StackScope(const StackScope&) = delete;
        StackScope& operator=(const StackScope&) = delete;
        CSymbolLookup& lookup_;
    };

    /* Frees what FindLine and NameFrame kept of the modules they read:
     * TkTerminate's. */
    void ReleaseModules()
    {
        modules_.Clear();
        texts_.Clear(SymbolLookupSeam().Calls().release);
    }
    const ModuleCache& Modules() const { return modules_; }

    bool Started() const { return process_ != nullptr; }
    bool Loaded() const { return library_.Valid(); }
    /* The process handle given to the debug-help library; null when not
     * started. */
    HANDLE Process() const { return process_; }
    /* With its trailing backslash; empty when the program's path is not
     * known. */
    const char* ProgramDirectory() const { return directory_; }
    int DatabaseCount() const { return databases_.count; }
    int DatabaseCapacity() const { return databases_.capacity; }
    const Database& DatabaseAt(int index) const { return databases_.items[index]; }

private:
    CSymbolLookup(const CSymbolLookup&) = delete;
    CSymbolLookup& operator=(const CSymbolLookup&) = delete;

    void Unload();
    SourceLine AskDebugHelp(DWORD_PTR address) const;
    /* NameFrame's sources; each gives the offsets of its texts, -1 for
     * none. */
    int NameFromDwarf(ModuleCache::View& view, int* functions, int* files, DWORD* lines);
    int NameFromSymbols(ModuleCache::View& view, DWORD_PTR address);
    int NameFromDebugHelp(DWORD_PTR address);
    /* Rebuilds the list; a missing directory leaves it empty. */
    void ScanSymbolsDirectory();
    void AddDatabase(const char* fileName);
    void ClearDatabases();

    HANDLE process_;
    UniqueModule<SymbolLookupPlatform, SymbolLookupSeam> library_;
    char directory_[MAX_PATH];
    GrowableArray<Database> databases_;
    /* Entry points of the last start; Stop leaves them. SymLoadModule and
     * SymUnloadModule are looked up with the others but never called: with
     * the invade flag, SymInitialize loads every module of the process
     * itself. */
    CleanupFn cleanup_;
    InitializeFn initialize_;
    SetOptionsFn setOptions_;
    LoadModuleFn loadModule_;
    UnloadModuleFn unloadModule_;
    GetLineFn getLine_;
    /* Looked up on first need after each start: the start's order of
     * entry points is the library's contract. */
    FromAddressFn fromAddress_;
    bool fromAddressSought_;
    bool modulesOnly_;
    ModuleCache modules_;
    TextPool texts_;
    /* Paths that the compiler recorded can be longer than the platform's
     * path limit. */
    char path_[1024];
};

/* The one lookup of the process; unstarted until TkInitialize or the first
 * fault text. */
CSymbolLookup& SymbolLookup();

}  // namespace tk

#endif
