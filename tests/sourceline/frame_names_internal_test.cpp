/* NameFrame over modules of each kind a host's stack passes through: one
 * built with -g at -O2, whose fault lies in a call inlined twice; the same
 * stripped of its debug information (named from its COFF symbols) and of
 * every symbol (named from its exports); a system DLL on a worker thread,
 * named as Windows names it, from its exports; a module only the
 * debug-help library knows a symbol of; and a module file on disk that is
 * not the one loaded. */
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/runtime.h"
#include "debuginfo/pe_image.h"
#include "faults/se_translator.h"
#include "sourceline/symbol_lookup.h"
#include "sourceline/text_pool.h"
#include "support/paths.h"
#include "support/stand_in_dbghelp.h"

namespace {

using tk::CSymbolLookup;
using tk::FrameNames;

volatile int g_zero = 0;
const bool kWide = sizeof(void*) == 8;

std::string LastPart(const char* path)
{
    const std::string text = path ? path : "??";
    return text.substr(text.find_last_of("/\\") + 1);
}

/* "function at file:line" per call, innermost first, with the file's last
 * part; "??" for what is unknown. */
std::string Calls(const FrameNames& names)
{
    std::string text;
    for (int i = 0; i < names.count; ++i) {
        const tk::CallName& call = names.calls[i];
        text += std::string(i ? " | " : "") + (call.function ? call.function : "??");
        if (call.file)
            text += " at " + LastPart(call.file) + ":" + std::to_string(call.line);
    }
    return text;
}

HMODULE WINAPI NoLibrary(LPCSTR)
{
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

class FrameNaming : public ::testing::Test {
protected:
    typedef int (*OuterFn)(int, int);
    typedef int (*LineFn)(int);
    typedef void* (*HiddenFn)();

    /* Without a debug-help library, as on Windows for modules of GCC's:
     * Wine's would read their DWARF. */
    void SetUp() override
    {
        platform_.loadLibrary = NoLibrary;
        tk::SetSeTranslator(TkSeTranslator);
    }
    void TearDown() override { tk::SetSeTranslator(nullptr); }

    static HMODULE Load(const std::string& name) { return LoadLibraryA((tktest::ProgramDirectory() + name).c_str()); }
    template <typename T>
    static T Entry(HMODULE library, const char* name)
    {
        return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    }
    /* The faulting instruction of a division by zero inside the library's
     * frames::Outer. */
    static DWORD_PTR Fault(HMODULE library)
    {
        DWORD_PTR address = 0;
        try {
            Entry<OuterFn>(library, "_ZN6frames5OuterEii")(1, g_zero);
        } catch (CRunTimeException* e) {
            address = reinterpret_cast<DWORD_PTR>(e->m_pExceptionPointers->ExceptionRecord->ExceptionAddress);
            e->Delete();
        }
        return address;
    }
    static DWORD_PTR Hidden(HMODULE library) { return reinterpret_cast<DWORD_PTR>(Entry<HiddenFn>(library, "TkFramesHidden")()) + 1; }
    /* The first byte of the library's code: start-up code that no export
     * follows. */
    static DWORD_PTR FirstCode(HMODULE library)
    {
        tk::PeHeaders headers;
        tk::PeSection text;
        const tk::ByteRange image = { reinterpret_cast<const unsigned char*>(library), 4096 };
        if (!tk::ReadPeHeaders(image, &headers) || !tk::ReadPeSection(headers, 0, &text))
            return 0;
        return reinterpret_cast<DWORD_PTR>(library) + text.rva;
    }

    tk::SymbolLookupPlatform platform_ = tk::kSystemSymbolLookupPlatform;
};

TEST_F(FrameNaming, ACallInlinedTwiceAtO2IsAFrameOfItsOwnWithTheFileAndLineOfEachCall)
{
    tk::UsingPlatform<tk::SymbolLookupPlatform> use(tk::SymbolLookupSeam(), platform_);
    HMODULE library = Load("tk_test_frames.dll");
    ASSERT_NE(library, nullptr);
    const LineFn line = Entry<LineFn>(library, "TkFramesLine");
    const std::string here = " at frames.cpp:";
    const DWORD_PTR fault = Fault(library);
    CSymbolLookup lookup;
    FrameNames names;
    SetLastError(ERROR_ACCESS_DENIED);
    ASSERT_TRUE(lookup.NameFrame(fault, &names));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    /* Static functions have no linkage name: their names come with their
     * scopes but without their parameters. */
    EXPECT_EQ(Calls(names), "frames::Leaf" + here + std::to_string(line(0)) + " | frames::Middle" + here +
                                std::to_string(line(1)) + " | frames::Outer(int, int)" + here + std::to_string(line(2)));
    EXPECT_EQ(LastPart(names.module), "tk_test_frames.dll");
    lookup.ReleaseModules();
    FreeLibrary(library);
}

TEST_F(FrameNaming, AStrippedModuleIsNamedFromItsCoffSymbolsOrElseFromItsExports)
{
    tk::UsingPlatform<tk::SymbolLookupPlatform> use(tk::SymbolLookupSeam(), platform_);
    HMODULE symbols = Load("tk_test_frames_symbols.dll");
    HMODULE exports = Load("tk_test_frames_exports.dll");
    ASSERT_TRUE(symbols && exports);
    /* On i686 an export names the code up to the next one; on x86_64 only
     * the function that .pdata says it begins. */
    std::string below;
    DWORD_PTR nearest = 0;
    for (const char* name : { "_ZN6frames5OuterEii", "TkFramesLine", "TkFramesHidden" }) {
        const DWORD_PTR at = reinterpret_cast<DWORD_PTR>(GetProcAddress(exports, name));
        if (at < Hidden(exports) && at > nearest) {
            nearest = at;
            below = name == std::string("_ZN6frames5OuterEii") ? "frames::Outer(int, int)" : name;
        }
    }
    const struct {
        HMODULE library;
        DWORD_PTR address;
        std::string expected;
    } frames[] = {
        { symbols, Fault(symbols), "frames::Outer(int, int)" },
        { symbols, Hidden(symbols), "frames::Hidden(int)" },
        { exports, Fault(exports), "frames::Outer(int, int)" },
        { exports, Hidden(exports), kWide ? "" : below },
    };
    CSymbolLookup lookup;
    for (const auto& frame : frames) {
        FrameNames names;
        EXPECT_EQ(lookup.NameFrame(frame.address, &names), !frame.expected.empty()) << frame.expected;
        EXPECT_EQ(Calls(names), frame.expected);
        EXPECT_EQ(LastPart(names.module), LastPart(frame.library == symbols ? "tk_test_frames_symbols.dll"
                                                                            : "tk_test_frames_exports.dll"));
    }
    lookup.ReleaseModules();
    FreeLibrary(symbols);
    FreeLibrary(exports);
}

/* Windows' system DLLs carry neither DWARF nor COFF symbols, Wine's carry
 * both: files whose name ends so are not found here, as if they were
 * Windows', and what names the frame is the export table. */
HANDLE OpenNoSystemFile(LPCSTR path)
{
    std::string name = LastPart(path);
    std::transform(name.begin(), name.end(), name.begin(), ::tolower);
    return name == "kernel32.dll" ? INVALID_HANDLE_VALUE : tk::kSystemSourceLinesPlatform.openFile(path);
}

DWORD WINAPI ReturnAddress(void* result)
{
    *static_cast<DWORD_PTR*>(result) = reinterpret_cast<DWORD_PTR>(__builtin_return_address(0));
    return 0;
}

TEST_F(FrameNaming, AWorkerThreadsFirstFrameInTheSystemIsNamedFromItsExports)
{
    tk::UsingPlatform<tk::SymbolLookupPlatform> use(tk::SymbolLookupSeam(), platform_);
    tk::SourceLinesPlatform files = tk::kSystemSourceLinesPlatform;
    files.openFile = OpenNoSystemFile;
    tk::UsingPlatform<tk::SourceLinesPlatform> windows(tk::SourceLinesSeam(), files);
    DWORD_PTR caller = 0;
    HANDLE thread = CreateThread(nullptr, 0, ReturnAddress, &caller, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CSymbolLookup lookup;
    FrameNames names;
    ASSERT_TRUE(lookup.NameFrame(caller - 1, &names));
    EXPECT_EQ(Calls(names), "BaseThreadInitThunk");
    std::string module = LastPart(names.module);
    std::transform(module.begin(), module.end(), module.begin(), ::tolower);
    EXPECT_EQ(module, "kernel32.dll");
    lookup.ReleaseModules();
}

TEST(FrameNameTexts, NamesLoseTheMarksOfA32BitCallingConventionAndAreDemangled)
{
    const struct Row {
        const char* name;
        const char* text;
    } rows[] = {
        { "_Z11StackThreadPv@4", "StackThread(void*)" },   /* stdcall, C++ */
        { "@BaseThreadInitThunk@12", "BaseThreadInitThunk" }, /* fastcall */
        { "RtlUserThreadStart@8", "RtlUserThreadStart" },     /* stdcall, C */
        { "_Z4stepi", "step(int)" },
        { "main", "main" },
        { "odd@name", "odd@name" },                           /* no count: no mark */
        { "name@", "name@" },
        { "@8", "@8" },                                       /* nothing but a mark */
        { "_Zbroken", "_Zbroken" },                           /* no C++ name: as it stands */
    };
    tk::TextPool pool;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const int at = pool.AddDemangled(row.name, realloc);
        EXPECT_STREQ(pool.At(at), row.text);
    }
    pool.Clear(free);
}

/* The stand-in debug-help library, with a SymFromAddr that knows one
 * symbol: of a program database, or of the exports. */
DWORD g_symbolFlags;
int g_symbolCalls;
BOOL WINAPI FromAddress(HANDLE, DWORD64, PDWORD64 displacement, PSYMBOL_INFO symbol)
{
    ++g_symbolCalls;
    EXPECT_EQ(symbol->SizeOfStruct, sizeof(SYMBOL_INFO));
    EXPECT_GE(symbol->MaxNameLen, 256u);
    *displacement = 4;
    symbol->Flags = g_symbolFlags;
    strcpy(symbol->Name, "EngineStart");
    return TRUE;
}
FARPROC WINAPI StandInEntry(HMODULE module, LPCSTR name)
{
    return strcmp(name, "SymFromAddr") == 0 ? reinterpret_cast<FARPROC>(reinterpret_cast<void*>(FromAddress))
                                            : tktest::kStandInDebugHelp.getProcAddress(module, name);
}

TEST_F(FrameNaming, TheDebugHelpLibraryNamesWhatNothingElseDoesFromAProgramDatabaseOnly)
{
    tktest::DebugHelp() = tktest::NewDebugHelpScript();
    tk::SymbolLookupPlatform standIn = tktest::kStandInDebugHelp;
    standIn.getProcAddress = StandInEntry;
    tk::UsingPlatform<tk::SymbolLookupPlatform> use(tk::SymbolLookupSeam(), standIn);
    HMODULE exports = Load("tk_test_frames_exports.dll");
    HMODULE full = Load("tk_test_frames.dll");
    ASSERT_TRUE(exports && full);
    g_symbolCalls = 0;
    CSymbolLookup lookup;
    FrameNames names;
    EXPECT_TRUE(lookup.NameFrame(Fault(full), &names));
    EXPECT_EQ(names.count, 3);
    EXPECT_EQ(g_symbolCalls, 0) << "the module's DWARF comes first";
    EXPECT_TRUE(lookup.Started()) << "naming starts the library";

    g_symbolFlags = 0;
    EXPECT_TRUE(lookup.NameFrame(FirstCode(exports), &names));
    EXPECT_EQ(Calls(names), "EngineStart");
    g_symbolFlags = SYMFLAG_EXPORT;
    EXPECT_FALSE(lookup.NameFrame(FirstCode(exports), &names)) << "a symbol made of the exports";
    EXPECT_EQ(LastPart(names.module), "tk_test_frames_exports.dll") << "?? from the module";
    EXPECT_EQ(g_symbolCalls, 2);

    EXPECT_FALSE(lookup.NameFrame(0x999, &names));
    EXPECT_EQ(names.module, nullptr) << "no module holds the address";
    EXPECT_EQ(names.count, 0);
    lookup.ReleaseModules();
    lookup.Stop();
    FreeLibrary(exports);
    FreeLibrary(full);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    return static_cast<bool>(out);
}

std::string g_fileOnDisk;   /* what the reader is told the module's file is */
DWORD WINAPI OtherFile(HMODULE module, LPSTR path, DWORD size)
{
    return module && !g_fileOnDisk.empty() ? static_cast<DWORD>(snprintf(path, size, "%s", g_fileOnDisk.c_str()))
                                           : GetModuleFileNameA(module, path, size);
}

/* A module file rebuilt with the same time stamp and image size, whose
 * symbols name its code otherwise (Outer renamed Other): where its checksum
 * differs, or, the linker having written none, its code does, its symbols
 * name nothing and the exports answer. Code and checksum alike cannot tell
 * a file whose symbols alone changed. */
TEST_F(FrameNaming, AModuleFileRebuiltWithTheSameStampNamesNothing)
{
    tk::UsingPlatform<tk::SymbolLookupPlatform> use(tk::SymbolLookupSeam(), platform_);
    const std::string original = ReadFile(tktest::ProgramDirectory() + "tk_test_frames_symbols.dll");
    tk::PeImage image;
    ASSERT_TRUE(tk::ReadPeImage({ reinterpret_cast<const unsigned char*>(original.data()), original.size() }, &image));
    const size_t checkSum = image.headers.sectionTable.data - reinterpret_cast<const unsigned char*>(original.data()) -
        (kWide ? 240 : 224) + 64;
    const std::string folder = tktest::TempDirectory() + "rebuilt-" + std::to_string(GetCurrentProcessId()) + "\\";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    tk::SourceLinesPlatform platform = tk::kSystemSourceLinesPlatform;
    platform.getModuleFileName = OtherFile;
    tk::UsingPlatform<tk::SourceLinesPlatform> told(tk::SourceLinesSeam(), platform);
    enum Change { kCheckSum, kCode, kNone };
    const struct {
        bool zeroSum;
        Change change;
        const char* expected;
    } rebuilds[] = {
        { false, kCheckSum, "frames::Outer(int, int)" },
        { true, kCode, "frames::Outer(int, int)" },
        { true, kNone, "frames::Other(int, int)" },
    };
    for (const auto& f : rebuilds) {
        std::string loaded = original;
        if (f.zeroSum)
            memset(&loaded[checkSum], 0, 4);
        const std::string loadedPath = folder + "loaded.dll";
        ASSERT_TRUE(WriteFile(loadedPath, loaded));
        HMODULE library = LoadLibraryA(loadedPath.c_str());
        ASSERT_NE(library, nullptr);
        const DWORD_PTR outer = reinterpret_cast<DWORD_PTR>(GetProcAddress(library, "_ZN6frames5OuterEii"));
        tk::PeSection text;
        ASSERT_TRUE(tk::ReadPeSection(image.headers, 0, &text));
        std::string rebuilt = loaded;
        /* The string table lies at the file's end, behind the export names. */
        const size_t name = rebuilt.rfind("_ZN6frames5OuterEii");
        ASSERT_NE(name, std::string::npos);
        rebuilt[name + 12] = 't';
        rebuilt[name + 13] = 'h';
        if (f.change != kNone)
            rebuilt[f.change == kCode ? outer - reinterpret_cast<DWORD_PTR>(library) - text.rva + text.fileOffset
                                      : checkSum] ^= 0x01;
        g_fileOnDisk = folder + "rebuilt.dll";
        ASSERT_TRUE(WriteFile(g_fileOnDisk, rebuilt));

        CSymbolLookup lookup;
        FrameNames names;
        lookup.NameFrame(outer + 1, &names);
        EXPECT_EQ(Calls(names), f.expected) << "zero checksum " << f.zeroSum << ", change " << f.change;
        lookup.ReleaseModules();
        g_fileOnDisk.clear();
        FreeLibrary(library);
        DeleteFileA(loadedPath.c_str());
        DeleteFileA((folder + "rebuilt.dll").c_str());
    }
    EXPECT_TRUE(RemoveDirectoryA(folder.c_str()));
}

}  // namespace
