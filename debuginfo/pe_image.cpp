/* pe_image.cpp -- a PE file's debug sections and debug link. */
#include <string.h>

#include <initializer_list>

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

/* Whether the system takes name for a device: one of the reserved names,
 * whatever its case, extension or trailing blanks. A port's number may be
 * a superscript digit of the ANSI code page. */
bool DeviceName(const char* name)
{
    size_t length = strcspn(name, ".");
    while (length && name[length - 1] == ' ')
        --length;
    char base[8];
    if (length == 0 || length >= sizeof base)
        return false;
    for (size_t i = 0; i < length; ++i)
        base[i] = static_cast<char>(name[i] >= 'a' && name[i] <= 'z' ? name[i] - 'a' + 'A' : name[i]);
    base[length] = '\0';
    for (const char* reserved : { "CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$" })
        if (strcmp(base, reserved) == 0)
            return true;
    const unsigned char digit = static_cast<unsigned char>(base[3]);
    return length == 4 && (strncmp(base, "COM", 3) == 0 || strncmp(base, "LPT", 3) == 0) &&
        ((digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3);
}

}  // namespace

bool ReadPeHeaders(ByteRange bytes, PeHeaders* headers)
{
    *headers = PeHeaders();
    ByteReader dos(bytes);
    if (dos.U16() != kDosSignature)
        return false;
    ByteReader at(bytes, 0x3C);
    ByteReader file(bytes, at.U32());
    if (at.Failed() || file.U32() != kPeSignature)
        return false;
    headers->machine = file.U16();
    headers->sectionCount = file.U16();
    headers->timeStamp = file.U32();
    headers->symbolTable = file.U32();
    headers->symbolCount = file.U32();
    const unsigned optionalSize = file.U16();
    file.U16();   /* characteristics */
    ByteReader optional = file.Take(optionalSize);
    if (file.Failed())
        return false;
    const ByteRange optionalRange = { optional.Position(), optionalSize };
    const uint16_t magic = optional.U16();
    if (optional.Failed() || (magic != kPe32 && magic != kPe32Plus))
        return false;
    headers->plus = magic == kPe32Plus;
    ByteReader base(optionalRange, headers->plus ? 24 : 28);
    headers->imageBase = base.Unsigned(headers->plus ? 8 : 4);
    ByteReader sizes(optionalRange, 56);
    headers->imageSize = sizes.U32();
    sizes.U32();   /* size of headers */
    headers->checkSum = sizes.U32();
    ByteReader directories(optionalRange, headers->plus ? 108 : 92);
    const uint32_t directoryCount = directories.U32();
    PeHeaders::Directory* const wanted[] = { &headers->exports, nullptr, &headers->resources, &headers->exceptions,
                                             nullptr, &headers->relocations };
    for (uint32_t i = 0; i < directoryCount && i < 6 && !directories.Failed(); ++i) {
        const uint32_t rva = directories.U32();
        const uint32_t size = directories.U32();
        if (wanted[i] && !directories.Failed())
            *wanted[i] = PeHeaders::Directory{ rva, size };
    }
    ByteReader table = file.Take(static_cast<uint64_t>(headers->sectionCount) * kSectionHeaderSize);
    headers->sectionTable = ByteRange{ table.Position(), table.Remaining() };
    return !base.Failed() && !sizes.Failed() && !file.Failed();
}

bool ReadPeSection(const PeHeaders& headers, unsigned index, PeSection* section)
{
    if (index >= headers.sectionCount)
        return false;
    ByteReader header(headers.sectionTable, static_cast<uint64_t>(index) * kSectionHeaderSize + 8);
    const uint32_t virtualSize = header.U32();
    section->rva = header.U32();
    const uint32_t rawSize = header.U32();
    section->fileOffset = header.U32();
    header.Skip(12);
    section->characteristics = header.U32();
    /* The raw size is rounded up to the file alignment; the virtual size
     * is the data's own. */
    section->size = virtualSize && virtualSize < rawSize ? virtualSize : rawSize;
    return !header.Failed();
}

bool ReadPeImage(ByteRange file, PeImage* image)
{
    *image = PeImage();
    if (!ReadPeHeaders(file, &image->headers))
        return false;
    const PeHeaders& headers = image->headers;
    image->imageBase = headers.imageBase;
    image->timeStamp = headers.timeStamp;
    image->imageSize = headers.imageSize;

    /* The string table's size counts its own four bytes. */
    if (headers.symbolTable) {
        const uint64_t stringsAt = headers.symbolTable + static_cast<uint64_t>(headers.symbolCount) * kSymbolSize;
        ByteReader table(file, stringsAt);
        const uint32_t tableSize = table.U32();
        if (!table.Failed() && tableSize >= 4 && tableSize - 4 <= table.Remaining())
            image->strings = ByteRange{ table.Position() - 4, tableSize };
    }

    static const char* const kNames[kDebugSectionKinds] = {
        ".debug_line", ".debug_line_str", ".debug_str", ".debug_info", ".debug_abbrev", ".debug_aranges",
        ".debug_ranges", ".debug_rnglists", ".debug_addr", ".debug_str_offsets", ".gnu_debuglink",
    };
    for (unsigned i = 0; i < headers.sectionCount; ++i) {
        PeSection section;
        if (!ReadPeSection(headers, i, &section))
            return false;
        char shortName[9];
        const char* name = SectionName(headers.sectionTable.data + i * kSectionHeaderSize, image->strings, shortName);
        if (!name || !section.fileOffset || !section.size || section.fileOffset > file.size ||
            section.size > file.size - section.fileOffset)
            continue;
        for (unsigned kind = 0; kind < kDebugSectionKinds; ++kind)
            if (strcmp(name, kNames[kind]) == 0)
                image->places[kind] = section;
    }
    image->debug = DebugSectionsAt(image->places, file, false);
    const PeSection& link = image->places[kGnuDebugLink];
    if (link.size)
        image->debugLink = ByteRange{ file.data + link.fileOffset, link.size };
    return true;
}

DebugSections DebugSectionsAt(const PeSection (&places)[kDebugSectionKinds], ByteRange bytes, bool loaded)
{
    ByteRange found[kDebugSectionKinds] = {};
    for (unsigned kind = 0; kind < kDebugSectionKinds; ++kind) {
        const uint32_t at = loaded ? places[kind].rva : places[kind].fileOffset;
        const uint32_t size = places[kind].size;
        if (size && at && at <= bytes.size && size <= bytes.size - at)
            found[kind] = ByteRange{ bytes.data + at, size };
    }
    return DebugSections{ found[kDebugLine],    found[kDebugLineStr], found[kDebugStr],      found[kDebugInfo],
                          found[kDebugAbbrev],  found[kDebugAranges], found[kDebugRanges],   found[kDebugRnglists],
                          found[kDebugAddr],    found[kDebugStrOffsets] };
}

bool ReadDebugLink(ByteRange section, const char** name, uint32_t* crc)
{
    ByteReader reader(section);
    const char* text = reader.Text();
    if (!text || !*text || strpbrk(text, "/\\:") || DeviceName(text))
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
