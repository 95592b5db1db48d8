/* pe_loaded.cpp -- whether a loaded image came from a given PE file. */
#include <string.h>

#include "debugnames/pe_loaded.h"

namespace tk {

namespace {

const uint32_t kCode = 0x00000020;
const uint32_t kExecute = 0x20000000;
enum Relocation : unsigned { kAbsolute = 0, kHighLow = 3, kDir64 = 10 };

/* Adds delta to every relocated place that lies in the code copied from
 * rva on, as the loader did to the image. False for a relocation of a
 * kind no x86 image has, or damaged blocks. */
bool Relocate(unsigned char* code, uint32_t rva, uint32_t size, ByteRange image, const PeHeaders& loaded,
              uint64_t delta)
{
    const PeHeaders::Directory& table = loaded.relocations;
    if (table.rva > image.size || table.size > image.size - table.rva)
        return false;
    ByteReader blocks(ByteRange{ image.data + table.rva, table.size });
    while (!blocks.AtEnd()) {
        const uint32_t page = blocks.U32();
        const uint32_t bytes = blocks.U32();
        ByteReader entries = blocks.Take(bytes >= 8 ? bytes - 8 : 0);
        if (blocks.Failed() || bytes < 8)
            return false;
        while (!entries.AtEnd()) {
            const unsigned entry = entries.U16();
            const unsigned kind = entry >> 12;
            const uint64_t at = static_cast<uint64_t>(page) + (entry & 0xFFF);
            const unsigned width = kind == kHighLow ? 4 : kind == kDir64 ? 8 : 0;
            if (entries.Failed() || (kind != kAbsolute && width == 0))
                return false;
            if (!width || at < rva || at - rva + width > size)
                continue;
            unsigned char* place = code + (at - rva);
            uint64_t value = 0;
            memcpy(&value, place, width);
            value += delta;
            memcpy(place, &value, width);
        }
    }
    return true;
}

}  // namespace

bool LoadedFrom(ByteRange file, const PeImage& fileImage, ByteRange image, const PeHeaders& loaded,
                ScratchAllocate allocate, ScratchRelease release)
{
    const PeHeaders& headers = fileImage.headers;
    if (headers.timeStamp != loaded.timeStamp || headers.imageSize != loaded.imageSize ||
        headers.checkSum != loaded.checkSum || headers.sectionTable.size != loaded.sectionTable.size ||
        memcmp(headers.sectionTable.data, loaded.sectionTable.data, loaded.sectionTable.size) != 0)
        return false;
    if (headers.checkSum != 0)
        return true;
    const uint64_t delta = reinterpret_cast<uintptr_t>(image.data) - headers.imageBase;
    for (unsigned i = 0; i < headers.sectionCount; ++i) {
        PeSection section;
        if (!ReadPeSection(headers, i, &section))
            return false;
        if (!(section.characteristics & (kCode | kExecute)) || !section.size)
            continue;
        if (section.fileOffset > file.size || section.size > file.size - section.fileOffset ||
            section.rva > image.size || section.size > image.size - section.rva)
            return false;
        const unsigned char* loadedCode = image.data + section.rva;
        const unsigned char* fileCode = file.data + section.fileOffset;
        if (delta == 0) {
            if (memcmp(fileCode, loadedCode, section.size) != 0)
                return false;
            continue;
        }
        unsigned char* copy = static_cast<unsigned char*>(allocate(nullptr, section.size));
        if (!copy)
            return false;
        memcpy(copy, fileCode, section.size);
        const bool same = Relocate(copy, section.rva, section.size, image, loaded, delta) &&
            memcmp(copy, loadedCode, section.size) == 0;
        release(copy);
        if (!same)
            return false;
    }
    return true;
}

}  // namespace tk
