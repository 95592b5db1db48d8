/* mapped_file.h -- a file's bytes, mapped read-only rather than read: a
 * module with debug information can be tens of MiB, of which a lookup
 * touches little. */
#ifndef TOOLS_SOURCELINE_MAPPED_FILE_H
#define TOOLS_SOURCELINE_MAPPED_FILE_H

#include "debuginfo/dwarf_bytes.h"
#include "sourceline/source_lines_platform.h"

namespace tk {

/* Which file, as it was when opened: a file rebuilt or replaced since has
 * another. */
struct FileIdentity {
    DWORD volume, indexHigh, indexLow, sizeHigh, sizeLow;
    FILETIME written;
};
bool SameFile(const FileIdentity& a, const FileIdentity& b);

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
     * nothing held, when the path names no file on disk (a device, a
     * pipe), the file cannot be opened, is empty, is larger than the
     * address space can take, or cannot be mapped. The view alone keeps
     * the file's mapping: no handle stays open. Its bytes end where the
     * view ends, should the file have shrunk since its size was read.
     * identity, when given, learns which file it is (false when that
     * cannot be learned). */
    bool Open(const char* path, FileIdentity* identity = nullptr);

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
