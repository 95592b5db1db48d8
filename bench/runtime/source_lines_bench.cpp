/* The source-line reader: a lookup in a module it has read already,
 * against the debug-help library's own lookup of DWARF 4 code; the first
 * lookup in a module, per MiB of its line tables; and the bytes it keeps
 * per line-table row, for this program and for the largest test program
 * beside it. */
#include <windows.h>

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

using tkbench::Cell;
using tkbench::KeepBest;

volatile DWORD g_sink;

__attribute__((noipa)) int Scale(int a) { return a * 3; }
__attribute__((noipa)) int Shift(int a) { return a << 2; }

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

size_t LineBytes(const char* path)
{
    tk::MappedFile file;
    tk::PeImage image;
    return file.Open(path) && tk::ReadPeImage(file.Bytes(), &image) ? image.debug.line.size : 0;
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
    return met ? 0 : 1;
}
