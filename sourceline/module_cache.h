/* module_cache.h -- what the lookup keeps of each module it read, and what
 * one lookup has of a module while it runs.
 *
 * The platform's debug-help library reads program databases only, while
 * GCC writes DWARF: this reader answers from the debug information of the
 * module that holds an address. The loader maps a module's debug sections
 * with the rest of it, so they are read where they lie in memory; only
 * their names (long names, in the COFF string table) and the COFF symbols
 * come from the module's file, which is read once, when the module is
 * first looked up, and only if it is the very file the module was loaded
 * from. A stripped module's debug sections lie in the debug file that it
 * links to: that file is mapped for each lookup and unmapped after it.
 *
 * What is kept of a module, keyed by its base address and its headers'
 * time stamp, size and checksum, is indexes only: its line tables, its
 * DWARF units (read one by one as lookups reach them), its function
 * symbols and exports. Nothing of a module's file stays mapped or open.
 * It runs on the lookup's own path only, never inside the fault filter. */
#ifndef TOOLS_SOURCELINE_MODULE_CACHE_H
#define TOOLS_SOURCELINE_MODULE_CACHE_H

#include <windows.h>

#include "base/growable_array.h"
#include "debuginfo/line_index.h"
#include "debuginfo/pe_image.h"
#include "debugnames/coff_symbols.h"
#include "debugnames/export_names.h"
#include "debugnames/name_index.h"
#include "sourceline/mapped_file.h"
#include "sourceline/source_lines_platform.h"

namespace tk {

class ModuleCache {
public:
    /* What is kept of one module. A module without debug information
     * keeps empty indexes, so it is not read again. */
    struct Module {
        enum Source { kNoDwarf, kLoadedImage, kDebugFile };
        enum Built : unsigned char { kNotYet, kBuilt, kUnbuildable };
        HMODULE base;
        ModuleStamp stamp;
        char path[MAX_PATH];
        bool fileMatches;                        /* its file on disk is the one loaded */
        Source source;
        PeSection places[kDebugSectionKinds];    /* RVAs in the image, or offsets in the debug file */
        uint64_t imageBase;                      /* the preferred base its DWARF assumes */
        char debugPath[MAX_PATH];
        FileIdentity debugIdentity;
        LineIndex lines;
        NameIndex names;
        Built namesBuilt, symbolsBuilt, exportsBuilt;
        CoffSymbols symbols;
        ExportNames exports;
    };

    /* What one lookup has of the module that holds an address: the
     * module's record, its loaded image and headers, and its DWARF where
     * it lies now (mapped for this lookup when it lies in a debug file).
     * A module whose file could not be read has a record for this lookup
     * only, which knows its exports. */
    struct View {
        View() : module(nullptr), transient(nullptr) {}
        ~View()
        {
            if (transient)
                Destroy(transient);
        }
        Module* module;
        Module* transient;
        ByteRange image;
        PeHeaders headers;
        DebugSections sections;
        uint64_t rva;
        MappedFile debug;

    private:
        View(const View&) = delete;
        View& operator=(const View&) = delete;
    };

    /* Holds nothing and makes no platform call, so it may be a static
     * object of the library. */
    ModuleCache() : holding_(false), heldFor_(nullptr) {}
    /* Releases what Clear releases. */
    ~ModuleCache();

    /* Opens the module that holds address for one lookup: reads it on its
     * first lookup, and again when another file was loaded at its base or
     * its debug file changed. False when no module holds the address, its
     * headers cannot be read, or memory runs short; nothing is kept of a
     * module whose file could not be read or indexed, so a later lookup
     * tries again (its exports still answer this one). The last-error
     * code may change. */
    bool Open(DWORD_PTR address, View* view);

    /* The module's line index over its DWARF; the names index, built on
     * first need; its COFF symbols and exports likewise. False or null
     * where the module has none or memory runs short. */
    bool Names(View& view);
    const CoffSymbols* Symbols(View& view);
    const ExportNames* Exports(View& view);

    /* While on, the debug file that the last lookup mapped stays mapped
     * for the next ones, so that the frames of one call stack in a stripped
     * module map it once; turning it off unmaps it. */
    void Hold(bool on);

    /* Frees every index. */
    void Clear();

    int ModuleCount() const { return modules_.count; }
    /* For the benchmarks: the rows and the index bytes of every module
     * kept, and the bytes of the names indexes alone. */
    uint64_t Rows() const;
    size_t IndexBytes() const;
    size_t NameBytes() const;

private:
    ModuleCache(const ModuleCache&) = delete;
    ModuleCache& operator=(const ModuleCache&) = delete;

    Module* Cached(HMODULE base, const ModuleStamp& stamp);
    /* A record of the module, kept in the cache when its file could be
     * read (*kept true). */
    Module* Load(HMODULE base, const ModuleStamp& stamp, ByteRange image, const PeHeaders& loaded, bool* kept);
    /* Where the module's DWARF lies: its own sections in memory, or the
     * debug file its link names. */
    void PlaceDwarf(Module* module, const PeImage& file, ByteRange image, DebugSections* sections,
                    MappedFile* debug);
    /* The debug file that the stripped module's link names, beside the
     * module or in the symbols folder beside the program, whose CRC-32
     * matches the link. */
    bool FindDebugFile(Module* module, ByteRange link, MappedFile* debug, PeImage* image);
    bool Sections(Module* module, ByteRange image, View* view);
    void Forget(Module* module);
    static void Destroy(Module* module);

    GrowableArray<Module*> modules_;
    bool holding_;
    /* The module whose debug file held maps, while Hold is on. */
    Module* heldFor_;
    MappedFile held_;
};

}  // namespace tk

#endif
