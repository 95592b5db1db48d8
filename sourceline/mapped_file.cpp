/* mapped_file.cpp -- a file's bytes, mapped read-only. */
#include <stdint.h>

#include "sourceline/mapped_file.h"

namespace tk {

bool SameFile(const FileIdentity& a, const FileIdentity& b)
{
    return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow &&
        a.sizeHigh == b.sizeHigh && a.sizeLow == b.sizeLow && a.written.dwLowDateTime == b.written.dwLowDateTime &&
        a.written.dwHighDateTime == b.written.dwHighDateTime;
}

bool MappedFile::Open(const char* path, FileIdentity* identity)
{
    view_.Reset();
    size_ = 0;
    const SourceLinesPlatform& platform = SourceLinesSeam().Calls();
    const UniqueSourceFile file(platform.openFile(path));
    if (!file || platform.fileType(file.Get()) != FILE_TYPE_DISK)
        return false;
    LARGE_INTEGER size;
    if (!platform.getFileSize(file.Get(), &size) || size.QuadPart <= 0 ||
        static_cast<uint64_t>(size.QuadPart) > SIZE_MAX)
        return false;
    BY_HANDLE_FILE_INFORMATION information;
    if (identity) {
        if (!platform.fileInformation(file.Get(), &information))
            return false;
        *identity = FileIdentity{ information.dwVolumeSerialNumber, information.nFileIndexHigh,
                                  information.nFileIndexLow,        information.nFileSizeHigh,
                                  information.nFileSizeLow,         information.ftLastWriteTime };
    }
    const UniqueSourceMapping mapping(platform.mapFile(file.Get()));
    if (!mapping)
        return false;
    view_.Reset(platform.mapView(mapping.Get()));
    MEMORY_BASIC_INFORMATION extent;
    if (!view_ || platform.queryMemory(view_.Get(), &extent, sizeof extent) != sizeof extent) {
        view_.Reset();
        return false;
    }
    /* The mapping takes the file's size when it is made: a file that shrank
     * after its size was read has a shorter view. */
    size_ = static_cast<size_t>(size.QuadPart);
    if (extent.RegionSize < size_)
        size_ = extent.RegionSize;
    return true;
}

}  // namespace tk
