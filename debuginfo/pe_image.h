/* pe_image.h -- the debug sections of a PE file, found through its
 * section table, and the link of a stripped file to its debug file.
 *
 * Pure functions over the file's bytes. MinGW gives the debug sections
 * names longer than the table's eight bytes: the table holds "/4" and the
 * like, an offset into the COFF string table that follows the symbols. */
#ifndef TOOLS_DEBUGINFO_PE_IMAGE_H
#define TOOLS_DEBUGINFO_PE_IMAGE_H

#include <stdint.h>

#include "debuginfo/dwarf_form.h"

namespace tk {

struct PeImage {
    uint64_t imageBase;     /* the preferred load address, which the debug information's addresses assume */
    uint32_t timeStamp;     /* of the file header */
    uint32_t imageSize;     /* of the optional header */
    DebugSections debug;    /* ranges of the file's bytes; empty where the file has no such section */
    ByteRange debugLink;    /* the .gnu_debuglink section */
};

/* Reads the headers and section table of the PE file in file. False when
 * the bytes are no PE file, or its headers run past them. A section whose
 * data run past the bytes is taken as absent. */
bool ReadPeImage(ByteRange file, PeImage* image);

/* The debug file's name and CRC-32 from a .gnu_debuglink section. False
 * when the section is too short, its name is empty, or names anything but
 * a file in the same folder. */
bool ReadDebugLink(ByteRange section, const char** name, uint32_t* crc);

}  // namespace tk

#endif
