/* module_cache.cpp -- what the lookup keeps of each module it read. */
#include <new>
#include <stdio.h>
#include <string.h>

#include <initializer_list>

#include <zlib.h>

#include "base/module_directory.h"
#include "debugnames/pe_loaded.h"
#include "sourceline/module_cache.h"

namespace tk {

namespace {

/* Where a stripped module's debug file may lie: beside the module, and in
 * the symbols folder beside the program. */
const char* const kDebugFilePlaces[] = { "%s%s", "%ssymbols\\%s" };

const DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
    PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

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

/* Whether every page of the bytes is committed and may be read. */
bool Readable(ByteRange bytes)
{
    const SourceLinesPlatform& platform = SourceLinesSeam().Calls();
    const unsigned char* at = bytes.data;
    const unsigned char* end = bytes.data + bytes.size;
    while (at < end) {
        MEMORY_BASIC_INFORMATION region;
        if (platform.queryMemory(at, &region, sizeof region) != sizeof region || region.State != MEM_COMMIT ||
            !(region.Protect & kReadable) || (region.Protect & PAGE_GUARD))
            return false;
        const unsigned char* next = static_cast<const unsigned char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at)
            return false;
        at = next;
    }
    return true;
}

}  // namespace

ModuleCache::~ModuleCache() { Clear(); }

void ModuleCache::Destroy(Module* module)
{
    const SourceLinesPlatform& platform = SourceLinesSeam().Calls();
    module->lines.Clear(platform.release);
    module->names.Clear();
    module->symbols.Clear(platform.release);
    module->exports.Clear(platform.release);
    module->~Module();
    platform.release(module);
}

void ModuleCache::Hold(bool on)
{
    holding_ = on;
    if (!on) {
        held_ = MappedFile();
        heldFor_ = nullptr;
    }
}

void ModuleCache::Forget(Module* module)
{
    if (module == heldFor_) {
        held_ = MappedFile();
        heldFor_ = nullptr;
    }
    for (int i = 0; i < modules_.count; ++i)
        if (modules_.items[i] == module) {
            modules_.items[i] = modules_.items[--modules_.count];
            break;
        }
    Destroy(module);
}

void ModuleCache::Clear()
{
    held_ = MappedFile();
    heldFor_ = nullptr;
    for (int i = 0; i < modules_.count; ++i)
        Destroy(modules_.items[i]);
    modules_.Clear(SourceLinesSeam().Calls().release);
}

uint64_t ModuleCache::Rows() const
{
    uint64_t rows = 0;
    for (int i = 0; i < modules_.count; ++i)
        rows += modules_.items[i]->lines.Rows();
    return rows;
}

size_t ModuleCache::IndexBytes() const
{
    size_t bytes = 0;
    for (int i = 0; i < modules_.count; ++i) {
        const Module& module = *modules_.items[i];
        bytes += sizeof(Module) + module.lines.Bytes() + module.names.Bytes() + module.symbols.Bytes() +
            module.exports.Bytes();
    }
    return bytes;
}

size_t ModuleCache::NameBytes() const
{
    size_t bytes = 0;
    for (int i = 0; i < modules_.count; ++i)
        bytes += modules_.items[i]->names.Bytes();
    return bytes;
}

/* A module loaded at the same base from another file replaces what was
 * kept of the one before. */
ModuleCache::Module* ModuleCache::Cached(HMODULE base, const ModuleStamp& stamp)
{
    for (int i = 0; i < modules_.count; ++i) {
        Module* module = modules_.items[i];
        if (module->base != base)
            continue;
        if (module->stamp.timeStamp == stamp.timeStamp && module->stamp.imageSize == stamp.imageSize &&
            module->stamp.checkSum == stamp.checkSum)
            return module;
        Forget(module);
        return nullptr;
    }
    return nullptr;
}

bool ModuleCache::FindDebugFile(Module* module, ByteRange link, MappedFile* debug, PeImage* image)
{
    const char* name = nullptr;
    uint32_t crc = 0;
    if (!ReadDebugLink(link, &name, &crc))
        return false;
    const SourceLinesPlatform& platform = SourceLinesSeam().Calls();
    char directories[2][MAX_PATH];
    ModuleDirectory(platform.getModuleFileName, module->base, directories[0]);
    ModuleDirectory(platform.getModuleFileName, nullptr, directories[1]);
    for (int i = 0; i < 2; ++i) {
        char path[MAX_PATH];
        const int length = snprintf(path, sizeof path, kDebugFilePlaces[i], directories[i], name);
        if (length < 0 || length >= MAX_PATH)
            continue;
        MappedFile candidate;
        PeImage found;
        FileIdentity identity;
        if (candidate.Open(path, &identity) && FileCrc(candidate.Bytes()) == crc &&
            ReadPeImage(candidate.Bytes(), &found) && found.debug.line.size) {
            *image = found;
            *debug = static_cast<MappedFile&&>(candidate);
            memcpy(module->debugPath, path, static_cast<size_t>(length) + 1);
            module->debugIdentity = identity;
            return true;
        }
    }
    return false;
}

void ModuleCache::PlaceDwarf(Module* module, const PeImage& file, ByteRange image, DebugSections* sections,
                             MappedFile* debug)
{
    const DebugSections loaded = DebugSectionsAt(file.places, image, true);
    bool readable = true;
    for (const ByteRange& section : { loaded.line, loaded.lineStr, loaded.str, loaded.info, loaded.abbrev,
                                      loaded.aranges, loaded.ranges, loaded.rnglists, loaded.addr, loaded.strOffsets })
        readable = readable && Readable(section);
    if ((loaded.line.size || loaded.info.size) && readable) {
        module->source = Module::kLoadedImage;
        memcpy(module->places, file.places, sizeof module->places);
        *sections = loaded;
        return;
    }
    PeImage debugImage;
    if (!loaded.line.size && FindDebugFile(module, file.debugLink, debug, &debugImage)) {
        module->source = Module::kDebugFile;
        memcpy(module->places, debugImage.places, sizeof module->places);
        *sections = debugImage.debug;
    }
}

ModuleCache::Module* ModuleCache::Load(HMODULE base, const ModuleStamp& stamp, ByteRange image,
                                       const PeHeaders& loaded, bool* kept)
{
    *kept = false;
    const SourceLinesPlatform& platform = SourceLinesSeam().Calls();
    void* memory = platform.reallocate(nullptr, sizeof(Module));
    if (!memory)
        return nullptr;
    Module* module = new (memory) Module();
    module->base = base;
    module->stamp = stamp;
    const DWORD length = platform.getModuleFileName(base, module->path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        module->path[0] = '\0';
    MappedFile file;
    if (!module->path[0] || !file.Open(module->path))
        return module;
    /* A file on disk that is not the one the module was loaded from would
     * name its sections and symbols wrongly: it names none. */
    PeImage fileImage;
    module->fileMatches = ReadPeImage(file.Bytes(), &fileImage) && fileImage.timeStamp == stamp.timeStamp &&
        fileImage.imageSize == stamp.imageSize && fileImage.headers.checkSum == stamp.checkSum &&
        LoadedFrom(file.Bytes(), fileImage, image, loaded, platform.reallocate, platform.release);
    if (module->fileMatches) {
        module->imageBase = fileImage.imageBase;
        MappedFile debug;
        DebugSections sections = {};
        PlaceDwarf(module, fileImage, image, &sections, &debug);
        if (sections.line.size &&
            !module->lines.Build(sections, module->imageBase, platform.reallocate, platform.release)) {
            Destroy(module);
            return nullptr;
        }
    }
    Module** slot = modules_.Append(platform.reallocate);
    if (!slot) {
        Destroy(module);
        return nullptr;
    }
    *slot = module;
    *kept = true;
    return module;
}

bool ModuleCache::Sections(Module* module, ByteRange image, View* view)
{
    view->sections = DebugSections();
    switch (module->source) {
    case Module::kNoDwarf:
        return true;
    case Module::kLoadedImage:
        view->sections = DebugSectionsAt(module->places, image, true);
        return true;
    case Module::kDebugFile: {
        if (module == heldFor_) {
            view->sections = DebugSectionsAt(module->places, held_.Bytes(), false);
            return true;
        }
        FileIdentity identity;
        if (!view->debug.Open(module->debugPath, &identity) || !SameFile(identity, module->debugIdentity)) {
            view->debug = MappedFile();
            return false;
        }
        if (holding_) {
            held_ = static_cast<MappedFile&&>(view->debug);
            heldFor_ = module;
            view->sections = DebugSectionsAt(module->places, held_.Bytes(), false);
            return true;
        }
        view->sections = DebugSectionsAt(module->places, view->debug.Bytes(), false);
        return true;
    }
    }
    return true;
}

bool ModuleCache::Open(DWORD_PTR address, View* view)
{
    const SourceLinesPlatform& platform = SourceLinesSeam().Calls();
    const HMODULE base = platform.moduleFromAddress(address);
    ModuleStamp stamp;
    if (!base || !platform.moduleStamp(base, &stamp))
        return false;
    const ByteRange image = { reinterpret_cast<const unsigned char*>(base), stamp.imageSize };
    if (!ReadPeHeaders(image, &view->headers))
        return false;
    view->image = image;
    view->rva = address - reinterpret_cast<DWORD_PTR>(base);
    bool kept = true;
    Module* module = Cached(base, stamp);
    if (!module)
        module = Load(base, stamp, image, view->headers, &kept);
    if (module && !Sections(module, image, view)) {
        /* Its debug file was rebuilt or replaced: read the module afresh. */
        Forget(module);
        module = Load(base, stamp, image, view->headers, &kept);
        if (module && !Sections(module, image, view))
            module->source = Module::kNoDwarf;
    }
    view->module = module;
    if (!kept) {
        view->transient = module;
        /* A record for this lookup only cannot hold its file past it. */
        if (module == heldFor_) {
            view->debug = static_cast<MappedFile&&>(held_);
            heldFor_ = nullptr;
        }
    }
    return module != nullptr;
}

bool ModuleCache::Names(View& view)
{
    Module* module = view.module;
    if (module->source == Module::kNoDwarf || !view.sections.info.size)
        return false;
    if (module->namesBuilt == Module::kNotYet) {
        const SourceLinesPlatform& platform = SourceLinesSeam().Calls();
        if (!module->names.Build(view.sections, module->imageBase, platform.reallocate, platform.release))
            return false;
        module->namesBuilt = Module::kBuilt;
    }
    return true;
}

const CoffSymbols* ModuleCache::Symbols(View& view)
{
    Module* module = view.module;
    if (module->symbolsBuilt == Module::kNotYet) {
        const SourceLinesPlatform& platform = SourceLinesSeam().Calls();
        MappedFile file;
        PeImage fileImage;
        /* The file is read again: it may have changed since the module
         * was first read. */
        if (!module->fileMatches || !file.Open(module->path) || !ReadPeImage(file.Bytes(), &fileImage) ||
            !LoadedFrom(file.Bytes(), fileImage, view.image, view.headers, platform.reallocate, platform.release)) {
            module->symbolsBuilt = Module::kUnbuildable;
            return nullptr;
        }
        if (!module->symbols.Build(file.Bytes(), fileImage, platform.reallocate, platform.release))
            return nullptr;
        module->symbolsBuilt = Module::kBuilt;
    }
    return module->symbolsBuilt == Module::kBuilt ? &module->symbols : nullptr;
}

const ExportNames* ModuleCache::Exports(View& view)
{
    Module* module = view.module;
    if (module->exportsBuilt == Module::kNotYet) {
        const SourceLinesPlatform& platform = SourceLinesSeam().Calls();
        if (!module->exports.Build(view.image, view.headers, platform.reallocate, platform.release))
            return nullptr;
        module->exportsBuilt = Module::kBuilt;
    }
    return &module->exports;
}

}  // namespace tk
