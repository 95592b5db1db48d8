/* The source-line reader over the real debug information of this very
 * program (this file's unit is DWARF 4, the others' DWARF 5), damaged at
 * random with fixed seeds. Each damaged copy ends at an inaccessible page:
 * a read past it faults and fails the test. An undamaged copy of a unit
 * must answer as the whole section does. */
#include <gtest/gtest.h>

#include <stdlib.h>

#include <windows.h>

#include <random>
#include <string>
#include <vector>

#include "debuginfo/dwarf_unit.h"
#include "debuginfo/line_index.h"
#include "sourceline/mapped_file.h"
#include "debuginfo/pe_image.h"
#include "support/debug_bytes.h"
#include "support/guarded_buffer.h"

namespace {

const int kLineRounds = 20000;
const int kUnitRounds = 10000;
const int kPeRounds = 10000;
/* Larger units would make the rounds slow under emulation. */
const size_t kLargestUnit = 128 * 1024;

class ThisProgram : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char path[MAX_PATH];
        ASSERT_NE(GetModuleFileNameA(nullptr, path, MAX_PATH), 0u);
        ASSERT_TRUE(file_.Open(path));
        ASSERT_TRUE(tk::ReadPeImage(file_.Bytes(), &image_));
        ASSERT_GT(image_.debug.line.size, 0u);
    }
    static void TearDownTestSuite() { file_ = tk::MappedFile(); }

    static tk::MappedFile file_;
    static tk::PeImage image_;
};

tk::MappedFile ThisProgram::file_;
tk::PeImage ThisProgram::image_;

/* Bytes copied to end at an inaccessible page; a larger buffer than the
 * bytes keeps its fence right after them. */
class FencedCopy {
public:
    explicit FencedCopy(size_t capacity) : capacity_(capacity), fence_(capacity) {}
    tk::ByteRange Place(const tktest::Bytes& bytes)
    {
        unsigned char* at = reinterpret_cast<unsigned char*>(fence_.Data()) + capacity_ - bytes.size();
        memcpy(at, bytes.data(), bytes.size());
        return { at, bytes.size() };
    }
    bool Ready() { return fence_.Data() != nullptr; }

private:
    size_t capacity_;
    tktest::FencedBuffer fence_;
};

/* Flips bits, writes bytes of the kinds that lengths and counts are made
 * of, or cuts the end off. Returns how many changes it made. */
int Damage(tktest::Bytes& bytes, std::mt19937& random)
{
    const int changes = random() % 4 == 0 ? 0 : 1 + random() % 6;
    for (int i = 0; i < changes && !bytes.empty(); ++i) {
        const size_t at = random() % bytes.size();
        switch (random() % 5) {
        case 0: bytes[at] ^= static_cast<unsigned char>(1u << (random() % 8)); break;
        case 1: bytes[at] = static_cast<unsigned char>(random()); break;
        case 2: bytes[at] = 0xFF; break;
        case 3: bytes[at] = 0x80; break;
        default: bytes.resize(at); break;
        }
    }
    return changes;
}

std::string Answer(const tk::DebugSections& sections, const tk::LineIndex& index, uint64_t offset)
{
    char path[512];
    unsigned line = 0;
    if (!index.Find(sections, offset, path, sizeof path, &line))
        return "none";
    const std::string file = path;
    return file.substr(file.find_last_of("/\\") + 1) + ":" + std::to_string(line);
}

TEST_F(ThisProgram, LineUnitsDamagedAtRandomGiveNoCrashAndSoundOnesTheirLines)
{
    tk::LineIndex whole;
    ASSERT_TRUE(whole.Build(image_.debug, image_.imageBase, realloc, free));

    /* Every unit small enough, with the addresses of its rows (not of its
     * sequences' ends, where the code of another unit may begin). */
    struct Unit {
        uint64_t offset, size;
        unsigned version;
        std::vector<uint64_t> rows;
    };
    std::vector<Unit> units;
    for (uint64_t offset = 0; offset < image_.debug.line.size;) {
        tk::LineUnit unit;
        uint64_t next = 0;
        if (tk::ReadLineUnit(image_.debug, offset, &unit, &next) && next - offset <= kLargestUnit) {
            Unit u = { offset, next - offset, unit.version, {} };
            tk::LineProgram program(unit);
            tk::LineRow row;
            while (program.Next(&row))
                if (!row.endSequence)
                    u.rows.push_back(row.address);
            if (!u.rows.empty())
                units.push_back(u);
        }
        offset = next;
    }
    ASSERT_GT(units.size(), 10u);

    FencedCopy line(kLargestUnit);
    ASSERT_TRUE(line.Ready());
    std::mt19937 random(20261208);
    int sound = 0, answered = 0, versions[6] = {};
    for (int round = 0; round < kLineRounds; ++round) {
        const Unit& unit = units[random() % units.size()];
        tktest::Bytes bytes(image_.debug.line.data + unit.offset, image_.debug.line.data + unit.offset + unit.size);
        const int changes = Damage(bytes, random);
        tk::DebugSections sections = image_.debug;
        sections.line = line.Place(bytes);
        tk::LineIndex index;
        ASSERT_TRUE(index.Build(sections, image_.imageBase, realloc, free));
        for (int probe = 0; probe < 4; ++probe) {
            const uint64_t address = unit.rows[random() % unit.rows.size()];
            const std::string answer = Answer(sections, index, address - image_.imageBase);
            if (changes == 0) {
                ++sound;
                ++versions[unit.version];
                answered += answer != "none";
                ASSERT_EQ(answer, Answer(image_.debug, whole, address - image_.imageBase))
                    << "round " << round << ", unit at " << unit.offset << ", address 0x" << std::hex << address;
            }
        }
        index.Clear(free);
    }
    whole.Clear(free);
    EXPECT_GT(answered, sound / 2) << "the probes hit rows";
    EXPECT_GT(versions[4], 0) << "DWARF 4 units were tried";
    EXPECT_GT(versions[5], 0) << "DWARF 5 units were tried";
}

bool Visit(void* count, uint64_t, const char* directory)
{
    /* A directory is a text that ends inside its section: reading it all
     * faults at the fence when it does not. */
    if (directory)
        *static_cast<size_t*>(count) += strlen(directory);
    return true;
}

TEST_F(ThisProgram, CompilationUnitsDamagedAtRandomGiveNoCrash)
{
    std::vector<tktest::Bytes> units;
    tk::ByteReader reader(image_.debug.info);
    while (!reader.AtEnd() && !reader.Failed()) {
        const unsigned char* begin = reader.Position();
        bool wide = false;
        reader.Take(reader.UnitLength(&wide));
        /* The unit's header and its first entry are all that is read. */
        tktest::Bytes unit(begin, reader.Position());
        if (unit.size() > 512) {
            unit.resize(512);
            const uint32_t length = 512 - 4;
            memcpy(unit.data(), &length, 4);
        }
        units.push_back(unit);
    }
    ASSERT_GT(units.size(), 10u);
    FencedCopy info(512), abbrev(image_.debug.abbrev.size), str(image_.debug.str.size),
        lineStr(image_.debug.lineStr.size);
    tk::DebugSections sections = image_.debug;
    sections.abbrev = abbrev.Place(tktest::Bytes(image_.debug.abbrev.data, image_.debug.abbrev.data + image_.debug.abbrev.size));
    sections.str = str.Place(tktest::Bytes(image_.debug.str.data, image_.debug.str.data + image_.debug.str.size));
    sections.lineStr =
        lineStr.Place(tktest::Bytes(image_.debug.lineStr.data, image_.debug.lineStr.data + image_.debug.lineStr.size));
    std::mt19937 random(20261209);
    size_t read = 0;
    for (int round = 0; round < kUnitRounds; ++round) {
        tktest::Bytes unit = units[random() % units.size()];
        Damage(unit, random);
        sections.info = info.Place(unit);
        tk::AbbreviationIndex abbrevs;
        tk::ForEachCompilationUnit(sections, abbrevs, realloc, free, Visit, &read);
        abbrevs.Clear(free);
    }
    EXPECT_GT(read, 0u) << "directories were found";
}

TEST(PeFuzz, DamagedHeadersGiveNoCrashAndNoSectionOutsideTheFile)
{
    tktest::Out strings;
    strings.Text(".debug_line").Text(".debug_info").Text(".gnu_debuglink");
    tktest::Out link;
    link.Text("a.debug").U32(1);
    const tktest::Bytes file = tktest::PeFile(
        true, 0x140000000ull, { { ".text", { 0xC3 }, 0 }, { "/4", { 1, 2, 3 }, 0 }, { "/16", { 4 }, 0 }, { "/28", link.b, 0 } },
        strings.b);
    FencedCopy copy(file.size());
    std::mt19937 random(20261210);
    int read = 0;
    for (int round = 0; round < kPeRounds; ++round) {
        tktest::Bytes bytes = file;
        Damage(bytes, random);
        const tk::ByteRange range = copy.Place(bytes);
        tk::PeImage image;
        if (!tk::ReadPeImage(range, &image))
            continue;
        ++read;
        for (tk::ByteRange r : { image.debug.line, image.debug.info, image.debugLink })
            ASSERT_TRUE(!r.data || (r.data >= range.data && r.data + r.size <= range.data + range.size)) << round;
        const char* name = nullptr;
        uint32_t crc = 0;
        if (tk::ReadDebugLink(image.debugLink, &name, &crc)) {
            ASSERT_LT(strlen(name), image.debugLink.size) << round;
        }
    }
    EXPECT_GT(read, kPeRounds / 4);
}

}  // namespace
