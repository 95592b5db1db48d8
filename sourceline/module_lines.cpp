/* module_lines.cpp -- source lines from the modules' own debug
 * information. */
#include <new>
#include <stdio.h>

#include <zlib.h>

#include "base/module_directory.h"
#include "sourceline/module_lines.h"

namespace tk {

namespace {

/* Where a stripped module's debug file may lie: beside the module, and in
 * the symbols folder beside the program. */
const char* const kDebugFilePlaces[] = { "%s%s", "%ssymbols\\%s" };

/* The CRC-32 that a debug link records: zlib's, over the whole file. */
uint32_t FileCrc(ByteRange bytes)
{
    uLong crc = ::crc32(0, Z_NULL, 0);
    const unsigned char* at = bytes.data;
    size_t left = bytes.size;
    while (left) {
        const uInt part = left > 0x40000000u ? 0x40000000u : static_cast<uInt>(left);
        crc = ::crc32(crc, at, part);
        at += part;
        left -= part;
    }
    return static_cast<uint32_t>(crc);
}

}  // namespace

ModuleLines::~ModuleLines() { Clear(); }

void ModuleLines::Destroy(Module* module)
{
    const SourceLinesPlatform& platform = SourceLinesSeam().Calls();
    module->index.Clear(platform.release);
    module->~Module();
    platform.release(module);
}

void ModuleLines::Clear()
{
    for (int i = 0; i < modules_.count; ++i)
        Destroy(modules_.items[i]);
    modules_.Clear(SourceLinesSeam().Calls().release);
}

uint64_t ModuleLines::Rows() const
{
    uint64_t rows = 0;
    for (int i = 0; i < modules_.count; ++i)
        rows += modules_.items[i]->index.Rows();
    return rows;
}

size_t ModuleLines::IndexBytes() const
{
    size_t bytes = 0;
    for (int i = 0; i < modules_.count; ++i)
        bytes += sizeof(Module) + modules_.items[i]->index.Bytes();
    return bytes;
}

/* A module loaded at the same base from another file replaces what was
 * kept of the one before. */
ModuleLines::Module* ModuleLines::Cached(HMODULE base, const ModuleStamp& stamp)
{
    for (int i = 0; i < modules_.count; ++i) {
        Module* module = modules_.items[i];
        if (module->base != base)
            continue;
        if (module->stamp.timeStamp == stamp.timeStamp && module->stamp.imageSize == stamp.imageSize)
            return module;
        Destroy(module);
        modules_.items[i] = modules_.items[--modules_.count];
        return nullptr;
    }
    return nullptr;
}

bool ModuleLines::FindDebugFile(HMODULE base, ByteRange link, MappedFile* debug, PeImage* image)
{
    const char* name = nullptr;
    uint32_t crc = 0;
    if (!ReadDebugLink(link, &name, &crc))
        return false;
    const SourceLinesPlatform& platform = SourceLinesSeam().Calls();
    char directories[2][MAX_PATH];
    ModuleDirectory(platform.getModuleFileName, base, directories[0]);
    ModuleDirectory(platform.getModuleFileName, nullptr, directories[1]);
    for (int i = 0; i < 2; ++i) {
        char path[MAX_PATH];
        const int length = snprintf(path, sizeof path, kDebugFilePlaces[i], directories[i], name);
        if (length < 0 || length >= MAX_PATH)
            continue;
        MappedFile candidate;
        PeImage found;
        if (candidate.Open(path) && FileCrc(candidate.Bytes()) == crc && ReadPeImage(candidate.Bytes(), &found) &&
            found.debug.line.size) {
            *image = found;
            *debug = static_cast<MappedFile&&>(candidate);
            return true;
        }
    }
    return false;
}

ModuleLines::Module* ModuleLines::Load(HMODULE base, const ModuleStamp& stamp)
{
    const SourceLinesPlatform& platform = SourceLinesSeam().Calls();
    char path[MAX_PATH];
    const DWORD length = platform.getModuleFileName(base, path, MAX_PATH);
    MappedFile file;
    if (length == 0 || length >= MAX_PATH || !file.Open(path))
        return nullptr;
    void* memory = platform.reallocate(nullptr, sizeof(Module));
    if (!memory)
        return nullptr;
    Module* module = new (memory) Module();
    module->base = base;
    module->stamp = stamp;

    /* A file on disk that is not the one the module was loaded from would
     * give the lines of other code: it gives none. */
    PeImage image;
    if (ReadPeImage(file.Bytes(), &image) && image.timeStamp == stamp.timeStamp &&
        image.imageSize == stamp.imageSize) {
        if (image.debug.line.size)
            module->file = static_cast<MappedFile&&>(file);
        else
            FindDebugFile(base, image.debugLink, &module->file, &image);
        if (module->file.Bytes().size) {
            module->sections = image.debug;
            if (!module->index.Build(module->sections, image.imageBase, platform.reallocate, platform.release)) {
                Destroy(module);
                return nullptr;
            }
        }
    }
    Module** slot = modules_.Append(platform.reallocate);
    if (!slot) {
        Destroy(module);
        return nullptr;
    }
    *slot = module;
    return module;
}

bool ModuleLines::Find(DWORD_PTR address, const char** file, DWORD* line)
{
    const SourceLinesPlatform& platform = SourceLinesSeam().Calls();
    const HMODULE base = platform.moduleFromAddress(address);
    ModuleStamp stamp;
    if (!base || !platform.moduleStamp(base, &stamp))
        return false;
    Module* module = Cached(base, stamp);
    if (!module)
        module = Load(base, stamp);
    unsigned found = 0;
    if (!module || !module->index.Find(module->sections, address - reinterpret_cast<DWORD_PTR>(base), path_,
                                       sizeof path_, &found))
        return false;
    *file = path_;
    *line = found;
    return true;
}

}  // namespace tk
