/* module_lines.h -- source lines from the modules' own debug information.
 *
 * The platform's debug-help library reads program databases only, while
 * GCC writes DWARF: this reader answers from the line tables of the module
 * that holds an address, read from its file on disk (or from the debug
 * file that a stripped module links to). What it learns of a module, its
 * mapped file and the index of its line tables, it keeps until Clear,
 * keyed by the module's base address and its file's time stamp, so that
 * only the first lookup in a module pays for reading it. It runs on the
 * lookup's own path only, never inside the fault filter. */
#ifndef TOOLS_SOURCELINE_MODULE_LINES_H
#define TOOLS_SOURCELINE_MODULE_LINES_H

#include <windows.h>

#include "base/growable_array.h"
#include "debuginfo/line_index.h"
#include "debuginfo/pe_image.h"
#include "sourceline/mapped_file.h"
#include "sourceline/source_lines_platform.h"

namespace tk {

class ModuleLines {
public:
    /* Holds nothing and makes no platform call, so it may be a static
     * object of the library. */
    ModuleLines() : path_() {}
    /* Releases what Clear releases. */
    ~ModuleLines();

    /* The source file and line of the code at address. True with *file
     * pointing at this object's own text, valid until the next Find or
     * Clear. False when no module holds the address, its file (or the
     * debug file it links to) cannot be read or has no line for it, or
     * memory runs short; nothing is kept of a module whose file could not
     * be read or indexed, so a later lookup tries again. The last-error
     * code may change. */
    bool Find(DWORD_PTR address, const char** file, DWORD* line);

    /* Unmaps every file and frees every index. */
    void Clear();

    int ModuleCount() const { return modules_.count; }
    /* For the benchmarks: the rows and the index bytes of every module
     * kept. */
    uint64_t Rows() const;
    size_t IndexBytes() const;

private:
    ModuleLines(const ModuleLines&) = delete;
    ModuleLines& operator=(const ModuleLines&) = delete;

    /* What is kept of one module; a module without usable line tables
     * keeps an empty index and no file, so it is not read again. */
    struct Module {
        HMODULE base;
        ModuleStamp stamp;
        MappedFile file;
        DebugSections sections;
        LineIndex index;
    };

    Module* Cached(HMODULE base, const ModuleStamp& stamp);
    Module* Load(HMODULE base, const ModuleStamp& stamp);
    /* The debug file that the stripped module's link names, beside the
     * module or in the symbols folder beside the program, whose CRC-32
     * matches the link. */
    bool FindDebugFile(HMODULE base, ByteRange link, MappedFile* debug, PeImage* image);
    void Destroy(Module* module);

    GrowableArray<Module*> modules_;
    /* Paths that the compiler recorded can be longer than the platform's
     * path limit. */
    char path_[1024];
};

}  // namespace tk

#endif
