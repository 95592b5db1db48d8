/* The source-line reader: a lookup in a module it has read already,
 * against the debug-help library's own lookup of DWARF 4 code; the first
 * lookup in a module, per MiB of its line tables; and the bytes it keeps
 * per line-table row, for this program and for the largest test program
 * beside it. The frame names: ten frames of a stack through this program,
 * the C++ runtime and the system, in modules read already (Wine's system
 * DLLs are named from their own DWARF, Windows' from their exports); the first
 * naming in libstdc++-6.dll; the memory kept per MiB of its .debug_info
 * with every unit that holds code read; and a frame whose DWARF lies in a
 * linked debug file, mapped for each lookup. */
#include <windows.h>

#include <string>

#include "bench_table.h"
#include "bench_timer.h"
#include "dwarf4_fault.h"
#include "debuginfo/line_index.h"
#include "sourceline/mapped_file.h"
#include "debuginfo/pe_image.h"
#include "sourceline/symbol_lookup.h"

namespace {

const int kLookups = 20000;
const int kPasses = 5;
const double kMiB = 1024.0 * 1024.0;
/* A test program with a large line table, built beside the benchmarks. */
const char kLargeProgram[] = "message_test.exe";
/* A stripped library whose debug file lies in symbols\, built beside them. */
const char kStrippedLibrary[] = "tk_test_lines_stripped.dll";
const int kStackRepeats = 2000;

using tkbench::Cell;
using tkbench::KeepBest;

volatile DWORD g_sink;

__attribute__((noipa)) int Scale(int a) { return a * 3; }
__attribute__((noipa)) int Shift(int a) { return a << 2; }

bool NameRows(const char* program);

/* A platform without a debug-help library: every lookup is the reader's. */
HMODULE WINAPI NoLibrary(LPCSTR)
{
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

/* Seconds for count calls of f, the best of the passes. */
template <typename F>
double Best(int count, F f)
{
    double best = 0;
    for (int pass = 0; pass < kPasses; ++pass)
        KeepBest(best, [&] {
            for (int i = 0; i < count; ++i)
                f(i);
        });
    return best;
}

DWORD_PTR Inside(const char* module, const char* name, int offset)
{
    const FARPROC at = GetProcAddress(GetModuleHandleA(module), name);
    return at ? reinterpret_cast<DWORD_PTR>(at) + offset : 0;
}

size_t LineBytes(const char* path)
{
    tk::MappedFile file;
    tk::PeImage image;
    return file.Open(path) && tk::ReadPeImage(file.Bytes(), &image) ? image.debug.line.size : 0;
}

bool NameRows(const char* program)
{
    tk::SymbolLookupPlatform platform = tk::kSystemSymbolLookupPlatform;
    platform.loadLibrary = NoLibrary;
    tk::UsingPlatform<tk::SymbolLookupPlatform> use(tk::SymbolLookupSeam(), platform);
    tk::CSymbolLookup lookup;
    tk::FrameNames names;

    const DWORD_PTR stack[] = {
        reinterpret_cast<DWORD_PTR>(&DivideInDwarf4) + 2,  reinterpret_cast<DWORD_PTR>(&Scale) + 1,
        reinterpret_cast<DWORD_PTR>(&Shift) + 1,           reinterpret_cast<DWORD_PTR>(&LineBytes) + 8,
        reinterpret_cast<DWORD_PTR>(&NameRows) + 24,       reinterpret_cast<DWORD_PTR>(&Inside) + 8,
        Inside("libstdc++-6.dll", "_ZNSo3putEc", 8),       Inside("libstdc++-6.dll", "_ZNKSt5ctypeIcE8do_widenEc", 4),
        Inside("kernel32.dll", "BaseThreadInitThunk", 8),  Inside("ntdll.dll", "RtlUserThreadStart", 8),
    };
    int named = 0;
    for (DWORD_PTR frame : stack)
        named += frame && lookup.NameFrame(frame, &names) && names.calls[0].function;
    const double stackTime = Best(kStackRepeats, [&](int) {
        for (DWORD_PTR frame : stack)
            g_sink = lookup.NameFrame(frame, &names);
    });
    const double stackUs = stackTime / kStackRepeats * 1e6;
    bool met = tkbench::Row("`NameFrame` of the 10 frames of a stack (this program, libstdc++, kernel32, ntdll), modules read already",
                            Cell("%.2f us%s", stackUs, named == 10 ? "" : ", NOT ALL NAMED"), "—", "—",
                            "≤ 50 us for the whole `GetCallStack`", named == 10 && stackUs <= 50);

    /* The first naming that reads libstdc++-6.dll. */
    const DWORD_PTR runtime = stack[6];
    double first = 0;
    for (int pass = 0; pass < kPasses; ++pass) {
        lookup.ReleaseModules();
        KeepBest(first, [&] { g_sink = lookup.NameFrame(runtime, &names); });
    }
    met = tkbench::Row("First `NameFrame` in libstdc++-6.dll: its headers, line tables and units read, one unit indexed",
                       Cell("%.2f ms", first * 1e3), "—", "—", "≤ 30 ms for the first `GetCallStack` there",
                       first * 1e3 <= 30) && met;

    /* Every unit of it that holds code: a naming every 64 bytes of its code. */
    lookup.ReleaseModules();
    const HMODULE cxx = GetModuleHandleA("libstdc++-6.dll");
    tk::PeHeaders headers;
    tk::PeSection text;
    char path[MAX_PATH];
    tk::MappedFile file;
    tk::PeImage image;
    if (cxx && tk::ReadPeHeaders({ reinterpret_cast<const unsigned char*>(cxx), 4096 }, &headers) &&
        tk::ReadPeSection(headers, 0, &text) && GetModuleFileNameA(cxx, path, MAX_PATH) && file.Open(path) &&
        tk::ReadPeImage(file.Bytes(), &image)) {
        for (uint32_t at = 0; at < text.size; at += 64)
            lookup.NameFrame(reinterpret_cast<DWORD_PTR>(cxx) + text.rva + at, &names);
        const double info = image.debug.info.size / kMiB;
        const double kept = lookup.Modules().IndexBytes() / kMiB;
        met = tkbench::Row("Kept per MiB of `.debug_info` read, libstdc++-6.dll, every unit with code read",
                           Cell("%.3f MiB (%.2f MiB kept, of which %.2f MiB names, for %.1f MiB)", kept / info, kept,
                                lookup.Modules().NameBytes() / kMiB, info),
                           "—", "—", "≤ 1 MiB", kept / info <= 1) && met;
    }
    lookup.ReleaseModules();

    /* A stripped library: its debug file is mapped for each lookup. */
    std::string stripped = program;
    stripped = stripped.substr(0, stripped.find_last_of('\\') + 1) + kStrippedLibrary;
    const HMODULE library = LoadLibraryA(stripped.c_str());
    const DWORD_PTR divide = library ? Inside(kStrippedLibrary, "TkLinesDivide", 2) : 0;
    if (divide && lookup.NameFrame(divide, &names)) {
        const double mapped = Best(kLookups / 20, [&](int) { g_sink = lookup.NameFrame(divide, &names); });
        double held = 0;
        {
            const tk::CSymbolLookup::StackScope scope(lookup);
            held = Best(kLookups / 20, [&](int) { g_sink = lookup.NameFrame(divide, &names); });
        }
        tkbench::Row("`NameFrame` in a stripped module, within one stack's naming (its debug file mapped once)",
                     Cell("%.2f us", held / (kLookups / 20) * 1e6),
                     Cell("alone, its debug file mapped for the lookup, %.2f us", mapped / (kLookups / 20) * 1e6));
    }
    lookup.ReleaseModules();
    if (library)
        FreeLibrary(library);
    return met;
}

}  // namespace

int main()
{
    const DWORD_PTR addresses[] = { reinterpret_cast<DWORD_PTR>(&Scale), reinterpret_cast<DWORD_PTR>(&Shift),
                                    reinterpret_cast<DWORD_PTR>(&main), reinterpret_cast<DWORD_PTR>(&LineBytes) };
    const int count = sizeof addresses / sizeof addresses[0];
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, MAX_PATH);

    tk::SymbolLookupPlatform platform = tk::kSystemSymbolLookupPlatform;
    platform.loadLibrary = NoLibrary;
    double first = 0, cached = 0;
    bool found = true;
    uint64_t rows = 0;
    size_t kept = 0;
    {
        tk::UsingPlatform<tk::SymbolLookupPlatform> use(tk::SymbolLookupSeam(), platform);
        tk::CSymbolLookup lookup;
        lookup.Start();
        for (int pass = 0; pass < kPasses; ++pass) {
            lookup.ReleaseModules();
            KeepBest(first, [&] { g_sink = lookup.FindLine(addresses[0]).line; });
        }
        for (DWORD_PTR address : addresses)
            found = found && lookup.FindLine(address).outcome == tk::SourceLine::kFound;
        cached = Best(kLookups, [&](int i) { g_sink = lookup.FindLine(addresses[i % count]).line; });
        rows = lookup.Modules().Rows();
        kept = lookup.Modules().IndexBytes();
        lookup.ReleaseModules();
    }

    tk::CSymbolLookup debugHelp;
    debugHelp.Start();
    const DWORD_PTR dwarf4 = reinterpret_cast<DWORD_PTR>(&DivideInDwarf4);
    const bool helped = debugHelp.FindLine(dwarf4).outcome == tk::SourceLine::kFound;
    const double library = Best(kLookups, [&](int) { g_sink = debugHelp.FindLine(dwarf4).line; });
    debugHelp.Stop();

    const double lookupUs = cached / kLookups * 1e6;
    bool met = tkbench::Row(
        "`FindLine` from the module's own line tables, module read already",
        Cell("%.2f us%s", lookupUs, found ? "" : ", NO LINE FOUND"),
        helped ? Cell("the debug-help library's `FindLine` of DWARF 4 code, started, %.2f us",
                      library / kLookups * 1e6)
               : Cell("the debug-help library found no line"),
        Cell("%.2fx the time", cached / library), "≤ 10 us", found && lookupUs <= 10);

    const size_t programLines = LineBytes(program);
    tkbench::Row("First `FindLine` in a module: its file mapped, its line tables indexed",
                 Cell("%.2f ms for %.0f KiB of `.debug_line`: %.1f ms per MiB", first * 1e3, programLines / 1024.0,
                      first * 1e3 / (programLines / kMiB)));
    const double perRow = rows ? static_cast<double>(kept) / rows : 0;
    met = tkbench::Row("Kept per line-table row, this program",
                       Cell("%.2f bytes (%zu bytes for %llu rows)", perRow, kept,
                            static_cast<unsigned long long>(rows)),
                       "—", "—", "≤ 16 bytes", rows && perRow <= 16) && met;

    /* A larger table, indexed alone: the parse's pace, and its keep. */
    char large[MAX_PATH];
    lstrcpynA(large, program, MAX_PATH);
    char* slash = strrchr(large, '\\');
    if (slash && slash + sizeof kLargeProgram < large + MAX_PATH)
        memcpy(slash + 1, kLargeProgram, sizeof kLargeProgram);
    tk::MappedFile file;
    tk::PeImage image;
    if (slash && file.Open(large) && tk::ReadPeImage(file.Bytes(), &image) && image.debug.line.size) {
        tk::LineIndex index;
        double build = 0;
        for (int pass = 0; pass < kPasses; ++pass)
            KeepBest(build, [&] { index.Build(image.debug, image.imageBase, realloc, free); });
        const double bytesPerRow = index.Rows() ? static_cast<double>(index.Bytes()) / index.Rows() : 0;
        tkbench::Row(Cell("Indexing the line tables of `%s`", kLargeProgram),
                     Cell("%.2f ms for %.0f KiB: %.1f ms per MiB", build * 1e3, image.debug.line.size / 1024.0,
                          build * 1e3 / (image.debug.line.size / kMiB)));
        met = tkbench::Row(Cell("Kept per line-table row, `%s`", kLargeProgram),
                           Cell("%.2f bytes (%zu bytes for %llu rows)", bytesPerRow, index.Bytes(),
                                static_cast<unsigned long long>(index.Rows())),
                           "—", "—", "≤ 16 bytes", index.Rows() && bytesPerRow <= 16) && met;
        index.Clear(free);
    }
    met = NameRows(program) && met;
    return met ? 0 : 1;
}
