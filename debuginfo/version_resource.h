/* version_resource.h -- the file version of a loaded PE image, read from
 * its version resource.
 *
 * A pure function over the image's bytes, for the list of modules a crash
 * report writes: it allocates nothing, takes no lock and calls nothing, so
 * it may run while the faulting thread holds the heap's or the loader's
 * lock. */
#ifndef TOOLS_DEBUGINFO_VERSION_RESOURCE_H
#define TOOLS_DEBUGINFO_VERSION_RESOURCE_H

#include <stdint.h>

#include "debuginfo/dwarf_bytes.h"

namespace tk {

/* The four parts of a file version, as in "major.minor.build.revision". */
struct FileVersion {
    uint16_t major, minor, build, revision;
};

/* The file version (the fixed part of the version resource) of the image
 * whose bytes are image, as the loader maps it: its start is the module's
 * base, and its size the image's size, so that addresses relative to the
 * image are offsets into it. False, leaving *version as it was, when the
 * image has no version resource, or its headers, resource directory or
 * version data do not read as such inside the bytes. */
bool ReadFileVersion(ByteRange image, FileVersion* version);

}  // namespace tk

#endif
