/* coff_symbols.h -- function names from the COFF symbol table that GNU ld
 * leaves in an image file, which `strip --strip-debug` keeps.
 *
 * The table lies in the file only, after the sections, with its string
 * table right behind it; the loader never maps it. Building the index
 * reads it once and copies the names of the function symbols, so a lookup
 * needs the file no more. */
#ifndef TOOLS_DEBUGNAMES_COFF_SYMBOLS_H
#define TOOLS_DEBUGNAMES_COFF_SYMBOLS_H

#include <stddef.h>
#include <stdint.h>

#include "base/growable_array.h"
#include "debuginfo/pe_image.h"

namespace tk {

class CoffSymbols {
public:
    typedef void* (*Reallocate)(void* block, size_t bytes);
    typedef void (*Release)(void* block);

    CoffSymbols() {}
    CoffSymbols(const CoffSymbols&) = delete;
    CoffSymbols& operator=(const CoffSymbols&) = delete;

    /* Indexes the symbols of the file's code sections: functions (type
     * 0x20), and the external or static labels of code that the compiler
     * did not write (an import's jump, an assembler routine), but no
     * section's own symbol. Names as the table has them (a 32-bit image's
     * with their leading underscore). False, with the index empty, when
     * the storage cannot grow; a file without symbols gives an empty
     * index. */
    bool Build(ByteRange file, const PeImage& image, Reallocate reallocate, Release release);
    void Clear(Release release);

    /* The nearest symbol at or below rva within the section that holds
     * it; null when none. */
    const char* Find(uint64_t rva) const;

    size_t Bytes() const
    {
        return static_cast<size_t>(symbols_.capacity) * sizeof(Symbol) + static_cast<size_t>(names_.capacity);
    }

private:
    struct Symbol {
        uint32_t rva;
        uint32_t end;    /* of its section */
        uint32_t name;   /* offset into names_ */
    };
    GrowableArray<Symbol> symbols_;
    GrowableArray<char> names_;
};

}  // namespace tk

#endif
