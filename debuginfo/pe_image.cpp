/* pe_image.cpp -- a PE file's debug sections and debug link. */
#include <string.h>

#include "debuginfo/pe_image.h"

namespace tk {

namespace {

const uint32_t kPeSignature = 0x00004550;   /* "PE\0\0" */
const uint16_t kDosSignature = 0x5A4D;      /* "MZ" */
const uint16_t kPe32 = 0x10b;
const uint16_t kPe32Plus = 0x20b;
const size_t kSectionHeaderSize = 40;
const size_t kSymbolSize = 18;

/* The section's full name: its eight bytes, or the string table's text at
 * the decimal offset after "/". Null when that text lies outside. */
const char* SectionName(const unsigned char* header, ByteRange strings, char (&shortName)[9])
{
    memcpy(shortName, header, 8);
    shortName[8] = '\0';
    if (shortName[0] != '/')
        return shortName;
    uint64_t offset = 0;
    for (const char* digit = shortName + 1; *digit; ++digit) {
        if (*digit < '0' || *digit > '9')
            return nullptr;
        offset = offset * 10 + static_cast<uint64_t>(*digit - '0');
    }
    return SectionText(strings, offset);
}

}  // namespace

bool ReadPeImage(ByteRange file, PeImage* image)
{
    *image = PeImage();
    ByteReader dos(file);
    if (dos.U16() != kDosSignature)
        return false;
    ByteReader at(file, 0x3C);
    ByteReader headers(file, at.U32());
    if (at.Failed() || headers.U32() != kPeSignature)
        return false;
    headers.U16();   /* machine */
    const unsigned sectionCount = headers.U16();
    image->timeStamp = headers.U32();
    const uint32_t symbolTable = headers.U32();
    const uint32_t symbolCount = headers.U32();
    const unsigned optionalSize = headers.U16();
    headers.U16();   /* characteristics */
    ByteReader optional = headers.Take(optionalSize);
    if (headers.Failed())
        return false;
    const ByteRange optionalRange = { optional.Position(), optionalSize };
    const uint16_t magic = optional.U16();
    if (optional.Failed() || (magic != kPe32 && magic != kPe32Plus))
        return false;
    ByteReader base(optionalRange, magic == kPe32Plus ? 24 : 28);
    image->imageBase = base.Unsigned(magic == kPe32Plus ? 8 : 4);
    ByteReader size(optionalRange, 56);
    image->imageSize = size.U32();
    ByteReader sections = headers.Take(static_cast<uint64_t>(sectionCount) * kSectionHeaderSize);
    if (base.Failed() || size.Failed() || headers.Failed())
        return false;

    /* The string table's size counts its own four bytes. */
    ByteRange strings = { nullptr, 0 };
    if (symbolTable) {
        const uint64_t stringsAt = symbolTable + static_cast<uint64_t>(symbolCount) * kSymbolSize;
        ByteReader table(file, stringsAt);
        const uint32_t tableSize = table.U32();
        if (!table.Failed() && tableSize >= 4 && tableSize - 4 <= table.Remaining())
            strings = ByteRange{ table.Position() - 4, tableSize };
    }

    const struct {
        const char* name;
        ByteRange* range;
    } wanted[] = {
        { ".debug_line", &image->debug.line }, { ".debug_line_str", &image->debug.lineStr },
        { ".debug_str", &image->debug.str },   { ".debug_info", &image->debug.info },
        { ".debug_abbrev", &image->debug.abbrev }, { ".gnu_debuglink", &image->debugLink },
    };
    for (unsigned i = 0; i < sectionCount; ++i) {
        const unsigned char* header = sections.Position();
        sections.Skip(8);
        const uint32_t virtualSize = sections.U32();
        sections.U32();   /* virtual address */
        const uint32_t rawSize = sections.U32();
        const uint32_t rawAt = sections.U32();
        sections.Skip(16);
        char shortName[9];
        const char* name = SectionName(header, strings, shortName);
        /* The raw size is rounded up to the file alignment; the virtual
         * size is the data's own. */
        const uint32_t bytes = virtualSize && virtualSize < rawSize ? virtualSize : rawSize;
        if (!name || !rawAt || !bytes || rawAt > file.size || bytes > file.size - rawAt)
            continue;
        for (const auto& w : wanted)
            if (strcmp(name, w.name) == 0)
                *w.range = ByteRange{ file.data + rawAt, bytes };
    }
    return true;
}

bool ReadDebugLink(ByteRange section, const char** name, uint32_t* crc)
{
    ByteReader reader(section);
    const char* text = reader.Text();
    if (!text || !*text || strpbrk(text, "/\\:"))
        return false;
    /* The CRC follows the name at the next multiple of four bytes. */
    const size_t used = static_cast<size_t>(reader.Position() - section.data);
    reader.Skip((4 - used % 4) % 4);
    *crc = reader.U32();
    if (reader.Failed())
        return false;
    *name = text;
    return true;
}

}  // namespace tk
