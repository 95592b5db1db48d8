/* source_lines_platform.h -- the platform calls of the source-line reader,
 * and the owners of the handles it opens.
 *
 * The reader finds the module that holds an address, reads its file from
 * disk and keeps what it learned; tests stand in modules, files and
 * failures of their own through this table. */
#ifndef TOOLS_SOURCELINE_SOURCE_LINES_PLATFORM_H
#define TOOLS_SOURCELINE_SOURCE_LINES_PLATFORM_H

#include <windows.h>
#include <stddef.h>

#include "base/handles.h"
#include "base/seam.h"
#include "base/unique_handle.h"

namespace tk {

/* What a module's headers in memory say of the file it was loaded from. */
struct ModuleStamp {
    DWORD timeStamp;    /* the file header's */
    DWORD imageSize;    /* the optional header's */
    DWORD checkSum;     /* the optional header's; 0 when the linker wrote none */
};

struct SourceLinesPlatform {
    /* The module that holds address, without taking a reference; null
     * when none does. */
    HMODULE (*moduleFromAddress)(DWORD_PTR address);
    /* False when the module's headers cannot be read. */
    BOOL (*moduleStamp)(HMODULE module, ModuleStamp* stamp);
    DWORD (WINAPI* getModuleFileName)(HMODULE module, LPSTR path, DWORD size);
    /* Opens an existing file for reading, letting others read it and
     * delete it; INVALID_HANDLE_VALUE on failure. */
    HANDLE (*openFile)(LPCSTR path);
    BOOL (WINAPI* getFileSize)(HANDLE file, PLARGE_INTEGER size);
    /* A read-only mapping of the whole file; null on failure. */
    HANDLE (*mapFile)(HANDLE file);
    /* A read-only view of the whole mapping; null on failure. */
    const void* (*mapView)(HANDLE mapping);
    BOOL (WINAPI* unmapView)(LPCVOID view);
    BOOL (WINAPI* closeHandle)(HANDLE handle);
    void* (*reallocate)(void* block, size_t bytes);
    void (*release)(void* block);
    /* What lies at an address: a mapped view's extent, whether a loaded
     * module's pages can be read. */
    SIZE_T (WINAPI* queryMemory)(LPCVOID address, PMEMORY_BASIC_INFORMATION information, SIZE_T size);
    /* Which file a handle is: its volume, index, size and last write. */
    BOOL (WINAPI* fileInformation)(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information);
    /* FILE_TYPE_DISK for a file; a device or pipe is no file to read. */
    DWORD (WINAPI* fileType)(HANDLE file);
};

extern const SourceLinesPlatform kSystemSourceLinesPlatform;

Seam<SourceLinesPlatform>& SourceLinesSeam();

struct SourceViewTraits {
    typedef const void* Handle;
    static const void* Empty() { return nullptr; }
    static void Close(const void* view) { SourceLinesSeam().Calls().unmapView(view); }
};

typedef UniqueFileHandle<SourceLinesPlatform, SourceLinesSeam> UniqueSourceFile;
typedef UniqueObjectHandle<SourceLinesPlatform, SourceLinesSeam> UniqueSourceMapping;
typedef UniqueHandle<SourceViewTraits> UniqueSourceView;

}  // namespace tk

#endif
