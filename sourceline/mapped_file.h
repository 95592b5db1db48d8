/* mapped_file.h -- a file's bytes, mapped read-only rather than read: a
 * module with debug information can be tens of MiB, of which a lookup
 * touches little. */
#ifndef TOOLS_SOURCELINE_MAPPED_FILE_H
#define TOOLS_SOURCELINE_MAPPED_FILE_H

#include "debuginfo/dwarf_bytes.h"
#include "sourceline/source_lines_platform.h"

namespace tk {

class MappedFile {
public:
    MappedFile() : size_(0) {}
    MappedFile(MappedFile&& other) noexcept : view_(static_cast<UniqueSourceView&&>(other.view_)), size_(other.size_)
    {
        other.size_ = 0;
    }
    MappedFile& operator=(MappedFile&& other) noexcept
    {
        view_ = static_cast<UniqueSourceView&&>(other.view_);
        size_ = other.size_;
        other.size_ = 0;
        return *this;
    }

    /* Maps the whole file at path, through the source-line reader's
     * platform calls; whatever it held before is unmapped. False, with
     * nothing held, when the file cannot be opened, is empty, is larger
     * than the address space can take, or cannot be mapped. The view
     * alone keeps the file's mapping: no handle stays open. */
    bool Open(const char* path);

    /* Empty when nothing is mapped. */
    ByteRange Bytes() const
    {
        return view_ ? ByteRange{ static_cast<const unsigned char*>(view_.Get()), size_ } : ByteRange{ nullptr, 0 };
    }

private:
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    UniqueSourceView view_;
    size_t size_;
};

}  // namespace tk

#endif
