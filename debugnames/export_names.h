/* export_names.h -- function names from a loaded image's export table.
 *
 * The loader maps the export directory, so the loaded image answers
 * without its file. An export names the code from its address up to the
 * next export, which on a 32-bit image is all there is to go by. A 64-bit
 * image has a function table (.pdata) that bounds every function that
 * calls another: there an export names an address only inside the
 * function that holds it, so a function that is not exported is not
 * named after the export below it. */
#ifndef TOOLS_DEBUGNAMES_EXPORT_NAMES_H
#define TOOLS_DEBUGNAMES_EXPORT_NAMES_H

#include <stddef.h>
#include <stdint.h>

#include "base/growable_array.h"
#include "debuginfo/pe_image.h"

namespace tk {

class ExportNames {
public:
    typedef void* (*Reallocate)(void* block, size_t bytes);
    typedef void (*Release)(void* block);

    ExportNames() {}
    ExportNames(const ExportNames&) = delete;
    ExportNames& operator=(const ExportNames&) = delete;

    /* Indexes the named exports of the loaded image (its bytes from its
     * base to its size; headers are its own), leaving out forwarders,
     * which name code in another module. False, with the index empty,
     * when the storage cannot grow. */
    bool Build(ByteRange image, const PeHeaders& headers, Reallocate reallocate, Release release);
    void Clear(Release release);

    /* The name of the nearest export at or below rva; on a 64-bit image
     * only one inside the function that holds rva (its .pdata entry, or
     * the entry that one continues). Null when none; the text is the
     * image's own. */
    const char* Find(ByteRange image, const PeHeaders& headers, uint64_t rva) const;

    size_t Bytes() const { return static_cast<size_t>(exports_.capacity) * sizeof(Export); }

private:
    struct Export {
        uint32_t rva;
        uint32_t name;   /* the RVA of its name */
    };
    /* The nearest export at or below rva that lies at or above low; null
     * when none. */
    const Export* Nearest(uint64_t rva, uint64_t low) const;

    GrowableArray<Export> exports_;
};

}  // namespace tk

#endif
