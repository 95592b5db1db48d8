/* pe_loaded.h -- whether a loaded image came from a given PE file.
 *
 * A file rebuilt with the same time stamp and image size (a reproducible
 * build, SOURCE_DATE_EPOCH, --no-insert-timestamp) carries other symbols
 * and sections under the same name and headers as the image in memory.
 * The headers' checksum covers the whole file; where the linker wrote
 * none, the code itself is compared, with the loader's relocations
 * undone. Pure functions over bytes. */
#ifndef TOOLS_DEBUGNAMES_PE_LOADED_H
#define TOOLS_DEBUGNAMES_PE_LOADED_H

#include <stddef.h>
#include <stdint.h>

#include "debuginfo/pe_image.h"

namespace tk {

typedef void* (*ScratchAllocate)(void* block, size_t bytes);
typedef void (*ScratchRelease)(void* block);

/* True when file (read as fileImage) is the file that the image at base
 * (its bytes from base to its size, headers its own) was loaded from: the
 * same time stamp, size, checksum and section table, and where the
 * checksum is 0, the same bytes in every code section once the base
 * relocations are applied for the load address. False when they differ,
 * or when memory for the comparison runs short. */
bool LoadedFrom(ByteRange file, const PeImage& fileImage, ByteRange image, const PeHeaders& loaded,
                ScratchAllocate allocate, ScratchRelease release);

}  // namespace tk

#endif
