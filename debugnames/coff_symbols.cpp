/* coff_symbols.cpp -- function names from the COFF symbol table. */
#include <string.h>

#include <algorithm>

#include "debugnames/coff_symbols.h"

namespace tk {

namespace {

const size_t kSymbolSize = 18;
const unsigned kFunctionType = 0x20;
enum StorageClass : unsigned { kExternal = 2, kStatic = 3 };
const uint32_t kCode = 0x00000020;
const uint32_t kExecute = 0x20000000;
/* No producer writes a longer name; a longer one is damaged. */
const size_t kLongestName = 4096;

/* The symbol's name: its eight bytes, or the string table's text at the
 * offset in its last four when the first four are zero. */
bool SymbolName(const unsigned char* symbol, ByteRange strings, char (&shortName)[9], const char** name)
{
    ByteReader fields(ByteRange{ symbol, 8 });
    const uint32_t zeros = fields.U32();
    const uint32_t offset = fields.U32();
    if (zeros != 0) {
        memcpy(shortName, symbol, 8);
        shortName[8] = '\0';
        *name = shortName;
        return true;
    }
    *name = offset >= 4 ? SectionText(strings, offset) : nullptr;
    return *name != nullptr && strlen(*name) < kLongestName;
}

}  // namespace

bool CoffSymbols::Build(ByteRange file, const PeImage& image, Reallocate reallocate, Release release)
{
    Clear(release);
    const PeHeaders& headers = image.headers;
    if (!headers.symbolTable || headers.symbolTable > file.size ||
        headers.symbolCount > (file.size - headers.symbolTable) / kSymbolSize)
        return true;
    ByteReader table(file, headers.symbolTable);
    for (uint32_t i = 0; i < headers.symbolCount; ++i) {
        const ByteReader symbol = table.Take(kSymbolSize);
        ByteReader fields(ByteRange{ symbol.Position(), kSymbolSize }, 8);
        const uint32_t value = fields.U32();
        const int section = static_cast<int16_t>(fields.U16());
        const unsigned type = fields.U16();
        const unsigned storage = fields.U8();
        const unsigned aux = fields.U8();
        PeSection place;
        char shortName[9];
        const char* name = nullptr;
        if (table.Failed())
            break;
        /* Functions, and the labels of code that is none (an import's jump,
         * an assembler routine), but not a section's own symbol. */
        const bool code = (type & 0x30) == kFunctionType || storage == kExternal || (storage == kStatic && !aux);
        if (code && section > 0 && ReadPeSection(headers, section - 1, &place) &&
            (place.characteristics & (kCode | kExecute)) && value < place.size &&
            SymbolName(symbol.Position(), image.strings, shortName, &name) && *name && *name != '.') {
            const size_t length = strlen(name) + 1;
            const int at = names_.count;
            bool grown = true;
            for (size_t c = 0; c < length && grown; ++c) {
                char* slot = names_.Append(reallocate);
                grown = slot != nullptr;
                if (slot)
                    *slot = name[c];
            }
            Symbol* kept = grown ? symbols_.Append(reallocate) : nullptr;
            if (!kept) {
                Clear(release);
                return false;
            }
            *kept = Symbol{ place.rva + value, place.rva + place.size, static_cast<uint32_t>(at) };
        }
        /* Auxiliary records follow their symbol and count in the total. */
        table.Skip(static_cast<uint64_t>(aux) * kSymbolSize);
        i += aux;
    }
    std::stable_sort(symbols_.items, symbols_.items + symbols_.count,
                     [](const Symbol& a, const Symbol& b) { return a.rva < b.rva; });
    return true;
}

void CoffSymbols::Clear(Release release)
{
    symbols_.Clear(release);
    names_.Clear(release);
}

const char* CoffSymbols::Find(uint64_t rva) const
{
    const Symbol* begin = symbols_.items;
    const Symbol* end = begin + symbols_.count;
    const Symbol* after = std::upper_bound(begin, end, rva, [](uint64_t value, const Symbol& s) { return value < s.rva; });
    if (after == begin || rva >= after[-1].end)
        return nullptr;
    return names_.items + after[-1].name;
}

}  // namespace tk
