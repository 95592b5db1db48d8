/* pe_image.h -- the headers and debug sections of a PE file, found through
 * its section table, and the link of a stripped file to its debug file.
 *
 * Pure functions over the file's bytes. MinGW gives the debug sections
 * names longer than the table's eight bytes: the table holds "/4" and the
 * like, an offset into the COFF string table that follows the symbols.
 * That table lies in the file only; the loader maps the sections
 * themselves, debug sections included, so a section's place is kept both
 * as a file offset and as an address relative to the loaded image. */
#ifndef TOOLS_DEBUGINFO_PE_IMAGE_H
#define TOOLS_DEBUGINFO_PE_IMAGE_H

#include <stdint.h>

#include "debuginfo/dwarf_form.h"

namespace tk {

/* The file header's and optional header's fields the readers use, and the
 * section table. Read the same from the file and from the loaded image,
 * whose headers the loader maps at its start. */
struct PeHeaders {
    uint16_t machine;
    bool plus;                  /* PE32+: a 64-bit image */
    uint32_t timeStamp;
    uint32_t symbolTable;       /* file offset of the COFF symbols; 0 when none */
    uint32_t symbolCount;
    uint64_t imageBase;         /* the preferred load address, which the debug information's addresses assume */
    uint32_t imageSize;
    uint32_t checkSum;
    struct Directory {
        uint32_t rva, size;
    } exports, resources, exceptions, relocations;
    ByteRange sectionTable;     /* sectionCount entries of 40 bytes */
    unsigned sectionCount;
};

/* Reads the headers of the PE file (or loaded image) in bytes. False when
 * the bytes are no PE file, or its headers run past them. */
bool ReadPeHeaders(ByteRange bytes, PeHeaders* headers);

/* A section's header fields. */
struct PeSection {
    uint32_t rva;
    uint32_t size;              /* of its data: the virtual size, no more than the raw size */
    uint32_t fileOffset;
    uint32_t characteristics;
};
/* Section index (from 0) of the table; false past its end. */
bool ReadPeSection(const PeHeaders& headers, unsigned index, PeSection* section);

/* The sections the readers look for, by name. */
enum DebugSectionKind {
    kDebugLine, kDebugLineStr, kDebugStr, kDebugInfo, kDebugAbbrev, kDebugAranges, kDebugRanges,
    kDebugRnglists, kDebugAddr, kDebugStrOffsets, kGnuDebugLink, kDebugSectionKinds
};

struct PeImage {
    PeHeaders headers;
    uint64_t imageBase;         /* = headers.imageBase */
    uint32_t timeStamp;         /* = headers.timeStamp */
    uint32_t imageSize;         /* = headers.imageSize */
    /* Each wanted section's place; size 0 where the file has no such
     * section, or its data run past the file. */
    PeSection places[kDebugSectionKinds];
    DebugSections debug;        /* ranges of the file's bytes; empty where the file has no such section */
    ByteRange debugLink;        /* the .gnu_debuglink section */
    ByteRange strings;          /* the COFF string table, its size field first; empty when none */
};

/* Reads the headers and section table of the PE file in file. False when
 * the bytes are no PE file, or its headers run past them. A section whose
 * data run past the bytes is taken as absent. */
bool ReadPeImage(ByteRange file, PeImage* image);

/* The debug sections at places in bytes: the loaded image's, from its base
 * to its size, at the sections' RVAs when loaded is true, or the file's at
 * their file offsets. A section that lies outside the bytes is empty. */
DebugSections DebugSectionsAt(const PeSection (&places)[kDebugSectionKinds], ByteRange bytes, bool loaded);

/* The debug file's name and CRC-32 from a .gnu_debuglink section. False
 * when the section is too short, its name is empty, names anything but a
 * file in the same folder, or names a device (NUL, COM1, CON.txt: opening
 * one may wait on hardware, and none holds debug information). */
bool ReadDebugLink(ByteRange section, const char** name, uint32_t* crc);

}  // namespace tk

#endif
