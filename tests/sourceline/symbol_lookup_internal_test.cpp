/* The source-line lookup: its start, stop and lookups over a stand-in
 * debug-help library, then the real one over a symbols directory of its own;
 * and the lines that the modules' own debug information gives where a
 * debug-help library knows none, as on Windows for every MinGW module. */
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tools/runtime.h"
#include "sourceline/mapped_file.h"
#include "debuginfo/pe_image.h"
#include "sourceline/symbol_lookup.h"
#include "faults/se_translator.h"
#include "support/child_process.h"
#include "support/scripted_heap.h"
#include "support/stand_in_dbghelp.h"

namespace {

using tk::CSymbolLookup;
using tk::SourceLine;

using tktest::kStandInCode;

tktest::DebugHelpScript& g = tktest::DebugHelp();

/* The module and line entry points are the target's width: the 32-bit ones
 * on i686, the ...64 ones on x86_64. */
const std::vector<std::string> kSixEntryPoints = { "SymCleanup", "SymInitialize", "SymSetOptions",
                                                   tk::dbghelp::kLoadModuleEntryPoint,
                                                   tk::dbghelp::kUnloadModuleEntryPoint,
                                                   tk::dbghelp::kGetLineEntryPoint };

class SymbolLookup : public ::testing::Test {
protected:
    tk::UsingPlatform<tk::SymbolLookupPlatform> use_{ tk::SymbolLookupSeam(), tktest::kStandInDebugHelp };

    void SetUp() override
    {
        g = tktest::NewDebugHelpScript();
        tktest::Heap() = tktest::HeapScript();
        g.programPath = "C:\\Bench\\cpu.exe";
        g.errorMode = SEM_NOGPFAULTERRORBOX;
        g.files = { "cpu.pdb", "mem.pdb", "a.b.pdb" };
    }

    static std::vector<std::string> Titles(const CSymbolLookup& lookup)
    {
        std::vector<std::string> titles;
        for (int i = 0; i < lookup.DatabaseCount(); ++i) {
            titles.push_back(lookup.DatabaseAt(i).title);
            EXPECT_EQ(lookup.DatabaseAt(i).word, 0u);
        }
        return titles;
    }
};

TEST_F(SymbolLookup, StartsOnceStopsAndStartsAfreshAgain)
{
    CSymbolLookup lookup;
    EXPECT_FALSE(lookup.Started());
    EXPECT_EQ(lookup.Start(), S_OK);
    EXPECT_TRUE(lookup.Started());
    EXPECT_EQ(g.entries, kSixEntryPoints);
    EXPECT_EQ(g.options, 0x14u);
    EXPECT_EQ(g.initializedProcess, tktest::kStandInProcess) << "the real handle, whatever the platform family";
    EXPECT_EQ(g.searchPath, "C:\\Bench\\symbols");
    EXPECT_EQ(g.invade, TRUE);
    EXPECT_EQ(g.pattern, "C:\\Bench\\symbols\\*.pdb");
    EXPECT_STREQ(lookup.ProgramDirectory(), "C:\\Bench\\");
    EXPECT_EQ(Titles(lookup), (std::vector<std::string>{ "cpu", "mem", "a.b" }));
    EXPECT_EQ(lookup.DatabaseCapacity(), 4);

    const int calls = g.calls;
    EXPECT_EQ(lookup.Start(), S_FALSE);
    EXPECT_EQ(g.calls, calls) << "a started engine makes no platform call";

    EXPECT_EQ(lookup.Stop(), S_OK);
    EXPECT_FALSE(lookup.Started());
    EXPECT_FALSE(lookup.Loaded());
    EXPECT_EQ(g.cleanups, 1);
    EXPECT_EQ(g.frees, 1);
    EXPECT_EQ(lookup.DatabaseCount(), 3) << "Stop leaves the list";
    EXPECT_EQ(lookup.Stop(), S_OK);
    EXPECT_EQ(g.cleanups, 1) << "a stopped engine is not cleaned up again";

    g.files = { "net.pdb" };
    EXPECT_EQ(lookup.Start(), S_OK);
    EXPECT_EQ(g.loads, 2);
    EXPECT_EQ(g.entries.size(), 12u) << "every entry point is looked up again";
    EXPECT_EQ(Titles(lookup), (std::vector<std::string>{ "net" })) << "the list is rebuilt, not extended";
}

TEST_F(SymbolLookup, AFailedLoadLeavesItUnstartedAndIsTriedAgain)
{
    g.loadError = ERROR_MOD_NOT_FOUND;
    CSymbolLookup lookup;
    EXPECT_EQ(lookup.Start(), static_cast<HRESULT>(0x8007007E));
    EXPECT_FALSE(lookup.Started());
    EXPECT_EQ(lookup.FindLine(kStandInCode).outcome, SourceLine::kUnavailable);
    EXPECT_EQ(lookup.Stop(), S_OK);
    EXPECT_EQ(g.cleanups + g.frees, 0);
    g.loadError = 0;
    EXPECT_EQ(lookup.Start(), S_OK);
    EXPECT_EQ(g.loads, 2);
}

TEST_F(SymbolLookup, AFailedInitialisationOrCleanUpLeavesItUnstartedAndIsTriedAgain)
{
    g.initializeError = ERROR_INVALID_PARAMETER;
    CSymbolLookup lookup;
    EXPECT_EQ(lookup.Start(), static_cast<HRESULT>(0x80070057));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "unloading keeps the code";
    EXPECT_FALSE(lookup.Started());
    EXPECT_FALSE(lookup.Loaded());
    EXPECT_EQ(g.frees, 1) << "a failed start unloads the library again";
    EXPECT_EQ(lookup.FindLine(kStandInCode).outcome, SourceLine::kUnavailable);
    EXPECT_EQ(lookup.Stop(), S_OK);
    EXPECT_EQ(g.cleanups, 0);

    g.initializeError = 0;
    EXPECT_EQ(lookup.Start(), S_OK) << "the next start tries afresh";
    EXPECT_EQ(g.loads, 2);

    g.cleanupError = ERROR_INVALID_HANDLE;
    EXPECT_EQ(lookup.Stop(), static_cast<HRESULT>(0x80070006));
    EXPECT_FALSE(lookup.Started());
    EXPECT_EQ(g.frees, 2) << "the library is unloaded although its clean-up failed";
    g.cleanupError = 0;
    EXPECT_EQ(lookup.Start(), S_OK);
    EXPECT_EQ(g.loads, 3);

    /* Failures that leave no error code are failures all the same. */
    g.failWithoutError = true;
    EXPECT_EQ(lookup.Stop(), E_FAIL);
    EXPECT_EQ(lookup.Start(), E_FAIL);
    EXPECT_FALSE(lookup.Started());
    EXPECT_EQ(g.frees, 4);
}

TEST_F(SymbolLookup, FindsLinesAndReportsWhatItCouldNot)
{
    CSymbolLookup lookup;
    EXPECT_EQ(lookup.FindLine(kStandInCode).outcome, SourceLine::kUnavailable) << "before any start";
    EXPECT_EQ(g.calls, 0);
    lookup.Start();

    SourceLine found = lookup.FindLine(kStandInCode);
    EXPECT_EQ(found.outcome, SourceLine::kFound);
    EXPECT_EQ(found.file, tktest::HandedFileName()) << "the library's own text";
    EXPECT_EQ(found.line, 42u);
    EXPECT_EQ(g.lineSeen.SizeOfStruct, sizeof(tk::dbghelp::SymbolLine)) << "20 bytes on i686";
    EXPECT_EQ(g.lineSeen.LineNumber, 0u);
    EXPECT_EQ(g.lineSeen.FileName, nullptr);

    SourceLine quiet = lookup.FindLine(0x999);
    EXPECT_EQ(quiet.outcome, SourceLine::kNotFound);
    EXPECT_EQ(quiet.hr, S_OK) << "the platform left no error";
    g.lineError = ERROR_MOD_NOT_FOUND;
    EXPECT_EQ(lookup.FindLine(kStandInCode).hr, static_cast<HRESULT>(0x8007007E));
    g.lineError = 0x80001234;
    EXPECT_EQ(lookup.FindLine(kStandInCode).hr, static_cast<HRESULT>(0x80001234)) << "a negative code stays";
}

TEST_F(SymbolLookup, ALibraryLackingEntryPointsIsNeverCalledThroughThem)
{
    g.missing = { "SymSetOptions", "SymCleanup", tk::dbghelp::kGetLineEntryPoint };
    CSymbolLookup lookup;
    EXPECT_EQ(lookup.Start(), S_OK);
    EXPECT_EQ(lookup.FindLine(kStandInCode).outcome, SourceLine::kUnavailable);
    EXPECT_EQ(lookup.Stop(), S_OK) << "nothing to clean up: the library is simply unloaded";
    EXPECT_FALSE(lookup.Loaded());
    EXPECT_EQ(g.frees, 1);
    EXPECT_EQ(g.setOptionsCalls + g.cleanups, 0);

    g.missing.push_back("SymInitialize");
    EXPECT_EQ(lookup.Start(), HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
    EXPECT_FALSE(lookup.Started());
    EXPECT_FALSE(lookup.Loaded()) << "a start without SymInitialize fails and unloads the library";
    EXPECT_EQ(g.frees, 2);
}

TEST_F(SymbolLookup, AnUnknownProgramPathMeansTheCurrentDirectory)
{
    const char* const longPath = "C:\\a-path-that-fills-the-buffer\\cpu.exe";
    struct { const char* path; DWORD length; } cases[] = { { nullptr, 0 }, { "cpu.exe", 0 }, { longPath, MAX_PATH } };
    for (const auto& c : cases) {
        g.programPath = c.path;
        g.pathLength = c.length;
        CSymbolLookup lookup;
        lookup.Start();
        EXPECT_STREQ(lookup.ProgramDirectory(), "") << (c.path ? c.path : "no path");
        EXPECT_EQ(g.searchPath, "symbols");
        EXPECT_EQ(g.pattern, "symbols\\*.pdb");
    }
}

TEST_F(SymbolLookup, TheScanRestoresTheErrorModeAndClosesItsSearchOnEveryWayOut)
{
    CSymbolLookup lookup;
    lookup.Start();
    EXPECT_EQ(g.errorModes, (std::vector<UINT>{ 0x8001, SEM_NOGPFAULTERRORBOX }));
    EXPECT_EQ(g.searchesClosed, 1);
    lookup.Stop();

    g.files.clear();
    g.errorModes.clear();
    EXPECT_EQ(lookup.Start(), S_OK) << "no symbols directory is no failure";
    EXPECT_EQ(lookup.DatabaseCount(), 0);
    EXPECT_EQ(lookup.DatabaseCapacity(), 0);
    EXPECT_EQ(g.errorModes, (std::vector<UINT>{ 0x8001, SEM_NOGPFAULTERRORBOX }));
    EXPECT_EQ(g.searchesClosed, 1) << "a search that found nothing has no handle to close";
    lookup.Stop();

    g.files = { "cpu.pdb", "mem.pdb" };
    g.throwInScan = true;
    g.errorModes.clear();
    EXPECT_THROW(lookup.Start(), int);
    EXPECT_EQ(g.errorMode, static_cast<UINT>(SEM_NOGPFAULTERRORBOX));
    EXPECT_EQ(g.errorModes.size(), 2u);
    EXPECT_EQ(g.searchesClosed, 2);
}

TEST_F(SymbolLookup, AnEntryThatGetsNoMemoryIsLeftOutAndDestructionCallsNoLibrary)
{
    tktest::Heap().failSize = 2 * sizeof(CSymbolLookup::Database);
    {
        CSymbolLookup lookup;
        lookup.Start();
        EXPECT_EQ(Titles(lookup), (std::vector<std::string>{ "cpu", "a.b" })) << "mem is left out, a.b is not";
        EXPECT_EQ(lookup.DatabaseCapacity(), 2);
    }
    EXPECT_EQ(tktest::Heap().releases, 1) << "the list's storage";
    EXPECT_EQ(g.cleanups + g.frees, 0) << "destruction makes no call into the library";
}

/* The real debug-help library, with a program directory of our own. */
char g_directory[MAX_PATH];

DWORD WINAPI OwnProgramPath(HMODULE, LPSTR path, DWORD size)
{
    return static_cast<DWORD>(snprintf(path, size, "%sprogram.exe", g_directory));
}

__attribute__((noipa)) int Located(int a) { return a * 3; } const int kLocatedLine = __LINE__;

TEST(RealSymbolLookup, ScansTheSymbolsDirectoryAndFindsSourceLines)
{
    snprintf(g_directory, sizeof g_directory, "%slookup-%lu\\", tktest::TempDirectory().c_str(),
             GetCurrentProcessId());
    const std::string symbols = std::string(g_directory) + "symbols";
    ASSERT_TRUE(CreateDirectoryA(g_directory, nullptr));
    tk::SymbolLookupPlatform platform = tk::kSystemSymbolLookupPlatform;
    platform.getModuleFileName = OwnProgramPath;
    tk::UsingPlatform<tk::SymbolLookupPlatform> use(tk::SymbolLookupSeam(), platform);
    const UINT before = SEM_NOGPFAULTERRORBOX | SEM_NOALIGNMENTFAULTEXCEPT;
    const UINT outer = SetErrorMode(before);

    ASSERT_EQ(GetModuleHandleA("dbghelp.dll"), nullptr);
    CSymbolLookup lookup;
    EXPECT_EQ(lookup.Start(), S_OK) << "a missing symbols directory is no failure";
    EXPECT_EQ(lookup.DatabaseCount(), 0);
    ASSERT_NE(GetModuleHandleA("dbghelp.dll"), nullptr);
    SourceLine line = lookup.FindLine(reinterpret_cast<DWORD_PTR>(&Located));
    ASSERT_EQ(line.outcome, SourceLine::kFound);
    const std::string file = line.file;
    EXPECT_EQ(file.substr(file.size() - 32), "\\symbol_lookup_internal_test.cpp");
    EXPECT_EQ(line.line, static_cast<DWORD>(kLocatedLine));
    EXPECT_EQ(lookup.Stop(), S_OK);
    EXPECT_EQ(GetModuleHandleA("dbghelp.dll"), nullptr) << "Stop unloads the library";

    ASSERT_TRUE(CreateDirectoryA(symbols.c_str(), nullptr));
    EXPECT_EQ(lookup.Start(), S_OK) << "an empty symbols directory is no failure";
    EXPECT_EQ(lookup.DatabaseCount(), 0);
    lookup.Stop();

    for (const char* name : { "a.b.pdb", "cpu.pdb", "notes.txt" })
        CloseHandle(CreateFileA((symbols + "\\" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    EXPECT_EQ(lookup.Start(), S_OK);
    std::vector<std::string> titles;
    for (int i = 0; i < lookup.DatabaseCount(); ++i)
        titles.push_back(lookup.DatabaseAt(i).title);
    std::sort(titles.begin(), titles.end());
    EXPECT_EQ(titles, (std::vector<std::string>{ "a.b", "cpu" }));
    EXPECT_EQ(SetErrorMode(outer), before) << "the scan gave the process its error mode back";
    lookup.Stop();

    for (const char* name : { "a.b.pdb", "cpu.pdb", "notes.txt" })
        DeleteFileA((symbols + "\\" + name).c_str());
    RemoveDirectoryA(symbols.c_str());
    RemoveDirectoryA(g_directory);
}

/* The Windows case: a debug-help library that starts and stops but knows
 * no line, as the platform's own answers for a module without a program
 * database. */
volatile int g_zero = 0;
typedef int (*DivideFn)(int, int);

/* Views of files that the reader maps, counted through its platform. */
int g_mappedViews, g_liveViews;
const void* CountedMapView(HANDLE mapping)
{
    const void* view = tk::kSystemSourceLinesPlatform.mapView(mapping);
    if (view) {
        ++g_mappedViews;
        ++g_liveViews;
    }
    return view;
}
BOOL WINAPI CountedUnmapView(LPCVOID view)
{
    --g_liveViews;
    return tk::kSystemSourceLinesPlatform.unmapView(view);
}

class OwnLines : public SymbolLookup {
protected:
    void SetUp() override
    {
        SymbolLookup::SetUp();
        g.lineError = ERROR_INVALID_ADDRESS;
        tk::SetSeTranslator(TkSeTranslator);
    }
    void TearDown() override { tk::SetSeTranslator(nullptr); }

    /* The faulting instruction of a division by zero in library. */
    static DWORD_PTR Fault(HMODULE library)
    {
        DivideFn divide = reinterpret_cast<DivideFn>(reinterpret_cast<void*>(GetProcAddress(library, "TkLinesDivide")));
        DWORD_PTR address = 0;
        try {
            divide(1, g_zero);
        } catch (CRunTimeException* e) {
            address = reinterpret_cast<DWORD_PTR>(e->m_pExceptionPointers->ExceptionRecord->ExceptionAddress);
            e->Delete();
        }
        EXPECT_EQ(tk::SymbolLookup().Modules().ModuleCount(), 0) << "the fault filter read no module";
        return address;
    }
    static std::string DivideLine(HMODULE library)
    {
        typedef int (*LineFn)();
        LineFn line = reinterpret_cast<LineFn>(reinterpret_cast<void*>(GetProcAddress(library, "TkLinesDivideLine")));
        return "lines.cpp:" + std::to_string(line());
    }
    /* "file:line" with the file's name only, or "none" and the code. */
    static std::string Found(CSymbolLookup& lookup, DWORD_PTR address)
    {
        const SourceLine found = lookup.FindLine(address);
        if (found.outcome != SourceLine::kFound)
            return "none " + std::to_string(found.outcome) + " " + std::to_string(found.hr);
        const std::string file = found.file;
        return file.substr(file.find_last_of("/\\") + 1) + ":" + std::to_string(found.line);
    }
};

const std::string kHere = "symbol_lookup_internal_test.cpp:" + std::to_string(kLocatedLine);
const std::string kNoLine = "none 1 " + std::to_string(HRESULT_FROM_WIN32(ERROR_INVALID_ADDRESS));

TEST_F(OwnLines, TheModulesOwnLineTablesAnswerAndOtherwiseTheDebugHelpLibrarysFailureStands)
{
    CSymbolLookup lookup;
    lookup.Start();
    EXPECT_EQ(Found(lookup, reinterpret_cast<DWORD_PTR>(&Located)), kHere) << "this program's DWARF 4";
    EXPECT_EQ(Found(lookup, 0x999), kNoLine) << "an address in no module";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS)) << "the code the library left";
    EXPECT_EQ(lookup.Modules().ModuleCount(), 1);
    lookup.Stop();
    lookup.Start();
    EXPECT_EQ(Found(lookup, reinterpret_cast<DWORD_PTR>(&Located)), kHere);
    EXPECT_EQ(lookup.Modules().ModuleCount(), 1) << "kept across the restarts of every lookup";
    lookup.ReleaseModules();
    EXPECT_EQ(lookup.Modules().ModuleCount(), 0);

    g.loadError = ERROR_MOD_NOT_FOUND;
    CSymbolLookup bare;
    EXPECT_TRUE(FAILED(bare.Start()));
    EXPECT_EQ(Found(bare, reinterpret_cast<DWORD_PTR>(&Located)), kHere) << "without a debug-help library";
    EXPECT_EQ(Found(bare, 0x999), "none 2 0") << "unavailable, as before";
}

TEST_F(OwnLines, AFaultInALibraryBuiltWithPlainGFindsItsLineAlsoWhereThePlatformRelocatedIt)
{
    const std::string path = tktest::ProgramDirectory() + "tk_test_lines.dll";
    tk::PeImage image;
    {
        tk::MappedFile file;
        ASSERT_TRUE(file.Open(path.c_str()));
        ASSERT_TRUE(tk::ReadPeImage(file.Bytes(), &image));
    }
    CSymbolLookup lookup;
    lookup.Start();
    HMODULE library = LoadLibraryA(path.c_str());
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(Found(lookup, Fault(library)), DivideLine(library));
    ASSERT_TRUE(FreeLibrary(library));

    /* Its own place taken, the loader moves it elsewhere. */
    void* taken = VirtualAlloc(reinterpret_cast<void*>(image.imageBase), image.imageSize, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(taken, nullptr);
    library = LoadLibraryA(path.c_str());
    ASSERT_NE(library, nullptr);
    EXPECT_NE(reinterpret_cast<uint64_t>(library), image.imageBase) << "relocated";
    EXPECT_EQ(Found(lookup, Fault(library)), DivideLine(library));
    FreeLibrary(library);
    VirtualFree(taken, 0, MEM_RELEASE);
    lookup.ReleaseModules();
}

TEST_F(OwnLines, AFaultsTextReadsTheModuleAndTkTerminateFreesWhatWasKept)
{
    TkInitialize();
    HMODULE library = LoadLibraryA((tktest::ProgramDirectory() + "tk_test_lines.dll").c_str());
    ASSERT_NE(library, nullptr);
    DivideFn divide = reinterpret_cast<DivideFn>(reinterpret_cast<void*>(GetProcAddress(library, "TkLinesDivide")));
    CException* fault = nullptr;
    try {
        divide(1, g_zero);
    } catch (CRunTimeException* e) {
        fault = e;
    }
    ASSERT_NE(fault, nullptr);
    EXPECT_EQ(tk::SymbolLookup().Modules().ModuleCount(), 0) << "the fault filter read no module";
    char text[256];
    fault->GetErrorMessage(text, sizeof text);
    ASSERT_NE(fault->m_pszFile, nullptr);
    const std::string file = fault->m_pszFile;
    EXPECT_EQ(file.substr(file.find_last_of("/\\") + 1) + ":" + std::to_string(fault->m_nLine), DivideLine(library));
    EXPECT_EQ(tk::SymbolLookup().Modules().ModuleCount(), 1);
    fault->Delete();
    FreeLibrary(library);
    TkTerminate();
    EXPECT_EQ(tk::SymbolLookup().Modules().ModuleCount(), 0) << "TkTerminate frees what the lookup kept";
}

std::string g_program;   /* the program path the reader is told */
DWORD WINAPI ProgramPath(HMODULE module, LPSTR path, DWORD size)
{
    return module ? GetModuleFileNameA(module, path, size)
                  : static_cast<DWORD>(snprintf(path, size, "%s", g_program.c_str()));
}

bool Write(const std::string& path, const std::string& bytes)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && written;
}

std::string Read(const std::string& path)
{
    tk::MappedFile file;
    if (!file.Open(path.c_str()))
        return std::string();
    const tk::ByteRange bytes = file.Bytes();
    return std::string(reinterpret_cast<const char*>(bytes.data), bytes.size);
}

/* The size of a file as it was before it lost a MiB. */
BOOL WINAPI GrownSize(HANDLE file, PLARGE_INTEGER size)
{
    if (!GetFileSizeEx(file, size))
        return FALSE;
    size->QuadPart += 1 << 20;
    return TRUE;
}

TEST_F(OwnLines, AStrippedLibraryTakesTheDebugFileBesideItOrInTheSymbolsFolderWhoseCrcMatches)
{
    const std::string bin = tktest::ProgramDirectory();
    CSymbolLookup lookup;
    lookup.Start();
    HMODULE library = LoadLibraryA((bin + "tk_test_lines_stripped.dll").c_str());
    ASSERT_NE(library, nullptr);
    const std::string line = DivideLine(library);
    EXPECT_EQ(Found(lookup, Fault(library)), line) << "from symbols\\ beside this program";
    FreeLibrary(library);
    lookup.ReleaseModules();

    const std::string folder = tktest::TempDirectory() + "stripped-" + std::to_string(GetCurrentProcessId()) + "\\";
    const std::string beside = folder + "tk_test_lines_stripped.debug";
    const std::string symbols = folder + "symbols\\tk_test_lines_stripped.debug";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((folder + "symbols").c_str(), nullptr));
    ASSERT_TRUE(CopyFileA((bin + "tk_test_lines_stripped.dll").c_str(), (folder + "moved_lines.dll").c_str(), TRUE));
    const std::string debug = Read(bin + "symbols\\tk_test_lines_stripped.debug");
    ASSERT_GT(debug.size(), 1000u);
    std::string damaged = debug;
    damaged[damaged.size() / 2] ^= 0x20;
    g_program = folder + "program.exe";
    tk::SourceLinesPlatform platform = tk::kSystemSourceLinesPlatform;
    platform.getModuleFileName = ProgramPath;
    {
        tk::UsingPlatform<tk::SourceLinesPlatform> use(tk::SourceLinesSeam(), platform);
        library = LoadLibraryA((folder + "moved_lines.dll").c_str());
        ASSERT_NE(library, nullptr);
        const DWORD_PTR address = Fault(library);
        const struct {
            const char* besideIt;
            const char* inSymbols;
            const std::string& answer;
        } places[] = {
            { "damaged", nullptr, kNoLine }, { "damaged", "sound", line }, { "sound", nullptr, line },
            { nullptr, nullptr, kNoLine },
        };
        for (const auto& p : places) {
            DeleteFileA(beside.c_str());
            DeleteFileA(symbols.c_str());
            if (p.besideIt) {
                ASSERT_TRUE(Write(beside, *p.besideIt == 'd' ? damaged : debug));
            }
            if (p.inSymbols) {
                ASSERT_TRUE(Write(symbols, debug));
            }
            EXPECT_EQ(Found(lookup, address), p.answer) << (p.besideIt ? p.besideIt : "none") << " beside it, "
                                                        << (p.inSymbols ? p.inSymbols : "none") << " in symbols";
            /* A module once read keeps its answer: the next place is tried
             * afresh. */
            lookup.ReleaseModules();
        }

        /* The debug file is mapped only while a lookup runs; naming one
         * stack keeps it mapped for the frames to come, and no longer. */
        ASSERT_TRUE(Write(beside, debug));
        tk::SourceLinesPlatform counted = platform;
        counted.mapView = CountedMapView;
        counted.unmapView = CountedUnmapView;
        {
            tk::UsingPlatform<tk::SourceLinesPlatform> count(tk::SourceLinesSeam(), counted);
            g_liveViews = 0;
            EXPECT_EQ(Found(lookup, address), line);
            EXPECT_EQ(g_liveViews, 0) << "not kept mapped";
            {
                const tk::CSymbolLookup::StackScope scope(lookup);
                EXPECT_EQ(Found(lookup, address), line);
                EXPECT_EQ(g_liveViews, 1) << "mapped for the stack's other frames";
                const int mapped = g_mappedViews;
                EXPECT_EQ(Found(lookup, address), line);
                EXPECT_EQ(g_mappedViews, mapped) << "mapped once for the stack";
            }
            EXPECT_EQ(g_liveViews, 0) << "unmapped with the stack's end";
        }
        /* Once deleted, it is no longer found. */
        EXPECT_TRUE(DeleteFileA(beside.c_str()));
        EXPECT_EQ(Found(lookup, address), kNoLine);

        /* A debug file that has shrunk since its size was read is read up
         * to where its mapping ends, no further: its checksum then covers
         * the page's zeros as well, and it gives no line. */
        ASSERT_TRUE(Write(beside, debug));
        lookup.ReleaseModules();
        tk::SourceLinesPlatform shrunk = platform;
        shrunk.getFileSize = GrownSize;
        tk::UsingPlatform<tk::SourceLinesPlatform> shrinking(tk::SourceLinesSeam(), shrunk);
        EXPECT_EQ(Found(lookup, address), kNoLine);
        lookup.ReleaseModules();
        FreeLibrary(library);
    }
    for (const std::string& file : { beside, symbols, folder + "moved_lines.dll" })
        DeleteFileA(file.c_str());
    RemoveDirectoryA((folder + "symbols").c_str());
    EXPECT_TRUE(RemoveDirectoryA(folder.c_str())) << "no file of the folder is still mapped";
}

/* A module file rebuilt with the same time stamp, size and checksum, whose
 * line tables name another file: the lines come from the module as it was
 * loaded. */
std::string g_rebuilt;
DWORD WINAPI RebuiltFile(HMODULE module, LPSTR path, DWORD size)
{
    return module ? static_cast<DWORD>(snprintf(path, size, "%s", g_rebuilt.c_str())) : GetModuleFileNameA(module, path, size);
}

TEST_F(OwnLines, AModuleFileRebuiltWithTheSameStampGivesTheLinesOfTheModuleLoaded)
{
    const std::string folder = tktest::TempDirectory() + "same-stamp-" + std::to_string(GetCurrentProcessId()) + "\\";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string loaded = folder + "loaded.dll";
    ASSERT_TRUE(CopyFileA((tktest::ProgramDirectory() + "tk_test_lines.dll").c_str(), loaded.c_str(), TRUE));
    std::string rebuilt = Read(loaded);
    int renamed = 0;
    for (size_t at = rebuilt.find("lines.cpp"); at != std::string::npos; at = rebuilt.find("lines.cpp", at)) {
        rebuilt[at + 1] = 'y';
        ++renamed;
    }
    ASSERT_GT(renamed, 0);
    g_rebuilt = folder + "rebuilt.dll";
    ASSERT_TRUE(Write(g_rebuilt, rebuilt));
    HMODULE library = LoadLibraryA(loaded.c_str());
    ASSERT_NE(library, nullptr);
    tk::SourceLinesPlatform platform = tk::kSystemSourceLinesPlatform;
    platform.getModuleFileName = RebuiltFile;
    {
        tk::UsingPlatform<tk::SourceLinesPlatform> use(tk::SourceLinesSeam(), platform);
        CSymbolLookup lookup;
        lookup.Start();
        EXPECT_EQ(Found(lookup, Fault(library)), DivideLine(library)) << "not lynes.cpp";
        lookup.ReleaseModules();
    }
    FreeLibrary(library);
    DeleteFileA(loaded.c_str());
    DeleteFileA(g_rebuilt.c_str());
    EXPECT_TRUE(RemoveDirectoryA(folder.c_str()));
}

/* Each platform call of the reader failing once: no line and nothing kept,
 * so the next lookup reads the module afresh; every handle and view it
 * opened is closed again. */
struct Calls {
    const char* failing;
    int handles, views, blocks;
    bool otherStamp;
} h;
HMODULE FromAddress(DWORD_PTR a)
{
    return strcmp(h.failing, "module") ? tk::kSystemSourceLinesPlatform.moduleFromAddress(a) : nullptr;
}
BOOL Stamp(HMODULE m, tk::ModuleStamp* s)
{
    if (!strcmp(h.failing, "stamp") || !tk::kSystemSourceLinesPlatform.moduleStamp(m, s))
        return FALSE;
    s->timeStamp += h.otherStamp;
    return TRUE;
}
DWORD WINAPI FileName(HMODULE m, LPSTR p, DWORD n)
{
    return strcmp(h.failing, "file name") ? GetModuleFileNameA(m, p, n) : 0;
}
HANDLE Open(LPCSTR p)
{
    HANDLE f = strcmp(h.failing, "open") ? tk::kSystemSourceLinesPlatform.openFile(p) : INVALID_HANDLE_VALUE;
    h.handles += f != INVALID_HANDLE_VALUE;
    return f;
}
BOOL WINAPI Size(HANDLE f, PLARGE_INTEGER s) { return strcmp(h.failing, "size") ? GetFileSizeEx(f, s) : FALSE; }
HANDLE Map(HANDLE f)
{
    HANDLE m = strcmp(h.failing, "map") ? tk::kSystemSourceLinesPlatform.mapFile(f) : nullptr;
    h.handles += m != nullptr;
    return m;
}
const void* View(HANDLE m)
{
    const void* v = strcmp(h.failing, "view") ? tk::kSystemSourceLinesPlatform.mapView(m) : nullptr;
    h.views += v != nullptr;
    return v;
}
BOOL WINAPI Unmap(LPCVOID v)
{
    --h.views;
    return tk::kSystemSourceLinesPlatform.unmapView(v);
}
BOOL WINAPI Close(HANDLE x)
{
    --h.handles;
    return CloseHandle(x);
}
DWORD WINAPI Type(HANDLE f) { return strcmp(h.failing, "type") ? GetFileType(f) : FILE_TYPE_CHAR; }
/* Memory runs out after the module's own block, while its lines are
 * indexed. */
void* Grow(void* block, size_t bytes) { return strcmp(h.failing, "memory") || !h.blocks++ ? realloc(block, bytes) : nullptr; }

TEST_F(OwnLines, APlatformCallThatFailsGivesNoLineAndKeepsNothing)
{
    const tk::SourceLinesPlatform failing = { FromAddress, Stamp, FileName, Open, Size, Map, View, Unmap, Close, Grow,
                                              free, VirtualQuery, GetFileInformationByHandle, Type };
    tk::UsingPlatform<tk::SourceLinesPlatform> use(tk::SourceLinesSeam(), failing);
    CSymbolLookup lookup;
    lookup.Start();
    h = Calls{ "", 0, 0, 0, false };
    for (const char* call : { "module", "stamp", "file name", "open", "type", "size", "map", "view", "memory" }) {
        h.failing = call;
        h.blocks = 0;
        EXPECT_EQ(Found(lookup, reinterpret_cast<DWORD_PTR>(&Located)), kNoLine) << call;
        EXPECT_EQ(lookup.Modules().ModuleCount(), 0) << call;
        h.failing = "";
        EXPECT_EQ(Found(lookup, reinterpret_cast<DWORD_PTR>(&Located)), kHere) << "after " << call;
        lookup.ReleaseModules();
        EXPECT_EQ(h.handles, 0) << call;
        EXPECT_EQ(h.views, 0) << call;
    }

    /* Another file loaded at the same base: read again; one whose file on
     * disk is not the one loaded: no line from that file. */
    EXPECT_EQ(Found(lookup, reinterpret_cast<DWORD_PTR>(&Located)), kHere);
    h.otherStamp = true;
    EXPECT_EQ(Found(lookup, reinterpret_cast<DWORD_PTR>(&Located)), kNoLine);
    EXPECT_EQ(lookup.Modules().ModuleCount(), 1) << "kept, as a module without lines";
    h.otherStamp = false;
    EXPECT_EQ(Found(lookup, reinterpret_cast<DWORD_PTR>(&Located)), kHere);
    lookup.ReleaseModules();
    EXPECT_EQ(h.views, 0);
}

}  // namespace
