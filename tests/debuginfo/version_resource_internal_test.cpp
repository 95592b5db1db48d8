/* The version reader's table: loaded images in, each ending at an
 * inaccessible page, and the version's two halves or kNone out. */
#include <gtest/gtest.h>

#include <string.h>

#include <windows.h>

#include <string>
#include <vector>

#include "debuginfo/pe_image.h"
#include "debuginfo/version_resource.h"
#include "support/debug_bytes.h"
#include "support/guarded_buffer.h"

namespace {

using namespace tktest;

const uint64_t kNone = ~0ull;
/* Offsets in a good image's resources, which lie past its headers at kResources. */
const uint32_t kResources = 0x200, kNames = 0x20, kLanguages = 0x38, kData = 0x50, kInfo = 0x60, kEnd = 0xBC;
const uint32_t kSub = 0x80000000;

/* Version 1.2.3.4 under a type table whose first entry (an icon type that
 * leads straight to data) is not the version's, and a named entry. */
Bytes Image(bool plus)
{
    Out r;
    r.U32(0).U32(0).U32(0).U16(0).U16(2).U32(3).U32(kData).U32(16).U32(kSub | kNames);
    r.U32(0).U32(0).U32(0).U16(1).U16(0).U32(kSub | kData).U32(kSub | kLanguages);
    r.U32(0).U32(0).U32(0).U16(0).U16(1).U32(0x409).U32(kData);
    r.U32(kResources + kInfo).U32(kEnd - kInfo).U32(0).U32(0).U16(kEnd - kInfo).U16(52).U16(0);
    for (char c : std::string("VS_VERSION_INFO"))
        r.U16(c);
    r.U16(0).U16(0).U32(0xFEEF04BD).U32(0x10000).U32(0x00010002).U32(0x00030004).b.resize(kEnd);
    Bytes image = PeFile(plus, 0x400000, {}, {}, { { 0, 0 }, { 0, 0 }, { kResources, kEnd } });
    image.resize(kResources);
    return Out{ image }.Add(r.b).b;
}

uint64_t Version(const void* image, size_t size)
{
    tk::FileVersion v;
    return tk::ReadFileVersion({ static_cast<const unsigned char*>(image), size }, &v)
        ? uint64_t(v.major) << 48 | uint64_t(v.minor) << 32 | uint64_t(v.build) << 16 | v.revision : kNone;
}

uint64_t Fenced(const Bytes& image, size_t size)
{
    FencedBuffer fence(size);
    memcpy(fence.Data(), image.data(), size);
    return Version(fence.Data(), size);
}

TEST(VersionResources, ReadTheFixedFileVersionOrNone)
{
    for (bool plus : { false, true })
        EXPECT_EQ(Fenced(Image(plus), kResources + kEnd), 0x0001000200030004u) << plus;
    const uint32_t kDirectory = 0x58 + 96 + 2 * 8, kAt = kResources;   /* PE32's resource directory */
    const struct {
        const char* name;
        uint32_t at, value, size;
    } damage[] = {
        { "no resource directory", kDirectory + 4, 0, 4 },
        { "resources past the image", kDirectory + 4, kEnd + 1, 4 },
        { "no version type", kAt + 0x18, 24, 4 },
        { "more named types claimed than the bytes hold", kAt + 12, 0xFFFF, 2 },
        { "a version type that is no directory", kAt + 0x1C, kNames, 4 },
        { "a subdirectory past the resources", kAt + 0x1C, kSub | (kEnd - 8), 4 },
        { "a name level that leads back to itself", kAt + 0x34, kSub | kNames, 4 },
        { "a data entry past the resources", kAt + 0x4C, kEnd - 4, 4 },
        { "data that runs past the image", kAt + kData + 4, kEnd - kInfo + 1, 4 },
        { "a wrong key", kAt + kInfo + 8, 'X', 2 },
        { "a wrong signature", kAt + kInfo + 40, 0xFEEF04BE, 4 },
        { "a value too short for the fixed part", kAt + kInfo + 2, 51, 2 },
    };
    for (const auto& d : damage) {
        Bytes image = Image(false);
        for (uint32_t i = 0; i < d.size; ++i)
            image[d.at + i] = static_cast<unsigned char>(d.value >> 8 * i);
        EXPECT_EQ(Fenced(image, image.size()), kNone) << d.name;
    }
    for (size_t size = 0; size < kResources + kEnd; ++size)
        ASSERT_EQ(Fenced(Image(false), size), kNone) << "cut at " << size;
}

/* System DLLs carry a version resource, whose fixed part the system reads
 * from their own files (not their language files); this program carries
 * none. */
TEST(VersionResources, AgreeWithTheSystemOnLoadedModules)
{
    for (const char* name : { "kernel32.dll", "version.dll", static_cast<const char*>(nullptr) }) {
        const HMODULE module = GetModuleHandleA(name);
        wchar_t path[MAX_PATH];
        DWORD unused;
        const DWORD size = GetModuleFileNameW(module, path, MAX_PATH) ? GetFileVersionInfoSizeW(path, &unused) : 0;
        std::vector<char> info(size);
        VS_FIXEDFILEINFO* fixed;
        UINT length;
        const uint64_t system = size && GetFileVersionInfoW(path, 0, size, info.data()) &&
                VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length)
            ? uint64_t(fixed->dwFileVersionMS) << 32 | fixed->dwFileVersionLS : kNone;
        tk::PeHeaders headers;
        ASSERT_TRUE(module && tk::ReadPeHeaders({ reinterpret_cast<const unsigned char*>(module), 4096 }, &headers));
        EXPECT_EQ(Version(module, headers.imageSize), system) << (name ? name : "this program");
        EXPECT_EQ(system == kNone, name == nullptr) << std::hex << system;
    }
}

}  // namespace
