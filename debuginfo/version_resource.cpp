/* version_resource.cpp -- the file version from a loaded image's resource
 * directory. */
#include "debuginfo/version_resource.h"

#include "debuginfo/pe_image.h"

namespace tk {

namespace {

const uint32_t kVersionType = 16;            /* RT_VERSION */
const uint32_t kAnyEntry = 0xFFFFFFFF;       /* no ID: a name has the high bit set, an ID fits 16 bits */
const uint32_t kSubdirectory = 0x80000000;   /* in an entry's offset: a directory table, not a data entry */
const uint32_t kFixedSignature = 0xFEEF04BD;
const uint16_t kFixedSize = 52;              /* thirteen 32-bit fields */
const char16_t kKey[] = u"VS_VERSION_INFO";
/* Length, value length and type, then the key and its terminator, padded
 * to four bytes from the structure's start. */
const uint32_t kFixedAt = (6 + sizeof kKey + 3) / 4 * 4;

/* Finds, in the directory table at offset at of the resources, the entry
 * with ID id (or the first entry, named or not, for kAnyEntry), and puts
 * the offset in the resources it leads to in *next. False when there is
 * none inside the bytes, or it leads to a data entry where subdirectory
 * asks for a directory table, or the other way round. Named entries come
 * first, then the IDs; a table may claim 131070 of them, so only those
 * inside the bytes are looked at. */
bool Entry(ByteRange resources, uint32_t at, uint32_t id, bool subdirectory, uint32_t* next)
{
    ByteReader table(resources, at);
    table.Skip(12);
    const uint32_t named = table.U16();
    const uint32_t count = named + table.U16();
    const uint32_t first = id == kAnyEntry ? 0 : named;
    table.Skip(static_cast<uint64_t>(first) * 8);
    for (uint32_t i = first; i < count; ++i) {
        const uint32_t name = table.U32();
        const uint32_t offset = table.U32();
        if (table.Failed())
            return false;
        if (id == kAnyEntry || name == id) {
            *next = offset & ~kSubdirectory;
            return ((offset & kSubdirectory) != 0) == subdirectory;
        }
    }
    return false;
}

}  // namespace

bool ReadFileVersion(ByteRange image, FileVersion* version)
{
    PeHeaders headers;
    if (!ReadPeHeaders(image, &headers))
        return false;
    const PeHeaders::Directory& directory = headers.resources;
    if (!directory.size || directory.rva > image.size || directory.size > image.size - directory.rva)
        return false;
    const ByteRange resources = { image.data + directory.rva, directory.size };

    /* Type, then name, then language: three levels and no more, so a
     * subdirectory that leads back up cannot keep the walk going. */
    uint32_t at = 0;
    if (!Entry(resources, 0, kVersionType, true, &at) || !Entry(resources, at, kAnyEntry, true, &at) ||
        !Entry(resources, at, kAnyEntry, false, &at))
        return false;
    ByteReader entry(resources, at);
    const uint32_t rva = entry.U32();
    const uint32_t size = entry.U32();
    if (entry.Failed() || rva > image.size || size > image.size - rva)
        return false;

    ByteReader info(ByteRange{ image.data + rva, size });
    info.U16();   /* the length of the whole, string tables included */
    const uint16_t valueLength = info.U16();
    info.U16();   /* type: binary */
    for (char16_t c : kKey)
        if (info.U16() != c)
            return false;
    info.Skip(kFixedAt - (6 + sizeof kKey));
    const uint32_t signature = info.U32();
    info.U32();   /* the structure's version */
    const uint32_t high = info.U32();
    const uint32_t low = info.U32();
    if (info.Failed() || valueLength < kFixedSize || signature != kFixedSignature)
        return false;
    *version = FileVersion{ static_cast<uint16_t>(high >> 16), static_cast<uint16_t>(high),
                            static_cast<uint16_t>(low >> 16), static_cast<uint16_t>(low) };
    return true;
}

}  // namespace tk
