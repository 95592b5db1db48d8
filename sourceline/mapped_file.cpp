/* mapped_file.cpp -- a file's bytes, mapped read-only. */
#include <stdint.h>

#include "sourceline/mapped_file.h"

namespace tk {

bool MappedFile::Open(const char* path)
{
    view_.Reset();
    size_ = 0;
    const SourceLinesPlatform& platform = SourceLinesSeam().Calls();
    const UniqueSourceFile file(platform.openFile(path));
    if (!file)
        return false;
    LARGE_INTEGER size;
    if (!platform.getFileSize(file.Get(), &size) || size.QuadPart <= 0 ||
        static_cast<uint64_t>(size.QuadPart) > SIZE_MAX)
        return false;
    const UniqueSourceMapping mapping(platform.mapFile(file.Get()));
    if (!mapping)
        return false;
    view_.Reset(platform.mapView(mapping.Get()));
    if (!view_)
        return false;
    size_ = static_cast<size_t>(size.QuadPart);
    return true;
}

}  // namespace tk
