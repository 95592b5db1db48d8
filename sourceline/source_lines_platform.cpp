/* source_lines_platform.cpp -- the system's calls for the source-line
 * reader. */
#include "base/allocation.h"
#include "sourceline/source_lines_platform.h"

namespace tk {

namespace {

HMODULE ModuleFromAddress(DWORD_PTR address)
{
    HMODULE module = nullptr;
    const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    return GetModuleHandleExA(flags, reinterpret_cast<LPCSTR>(address), &module) ? module : nullptr;
}

/* The loader has checked these headers; they are read where it put them. */
BOOL Stamp(HMODULE module, ModuleStamp* stamp)
{
    const unsigned char* base = reinterpret_cast<const unsigned char*>(module);
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE)
        return FALSE;
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE)
        return FALSE;
    stamp->timeStamp = nt->FileHeader.TimeDateStamp;
    stamp->imageSize = nt->OptionalHeader.SizeOfImage;
    stamp->checkSum = nt->OptionalHeader.CheckSum;
    return TRUE;
}

HANDLE OpenForReading(LPCSTR path)
{
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE MapReadOnly(HANDLE file) { return CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr); }

const void* ViewReadOnly(HANDLE mapping) { return MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0); }

}  // namespace

constexpr SourceLinesPlatform kSystemSourceLinesPlatform = {
    ModuleFromAddress, Stamp, GetModuleFileNameA, OpenForReading, GetFileSizeEx, MapReadOnly, ViewReadOnly,
    UnmapViewOfFile, CloseHandle, Reallocate, Release, VirtualQuery, GetFileInformationByHandle, GetFileType,
};

namespace {
Seam<SourceLinesPlatform> g_seam(kSystemSourceLinesPlatform);
}  // namespace

Seam<SourceLinesPlatform>& SourceLinesSeam() { return g_seam; }

}  // namespace tk
