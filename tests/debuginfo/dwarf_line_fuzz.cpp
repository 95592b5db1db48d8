/* The source-line and name readers over the real debug information of
 * this very program (this file's unit is DWARF 4, the others' DWARF 5),
 * damaged at random with fixed seeds: line tables, units of .debug_info,
 * their abbreviation tables, PE headers. Each damaged copy ends at an
 * inaccessible page: a read past it faults and fails the test, and so
 * does a round that takes longer than kRoundLimit of the thread's time.
 * An undamaged copy of a unit must answer as the whole section does. */
#include <gtest/gtest.h>

#include <stdlib.h>

#include <windows.h>

#include <random>
#include <string>
#include <vector>

#include "debuginfo/dwarf_unit.h"
#include "debuginfo/line_index.h"
#include "debugnames/name_index.h"
#include "sourceline/mapped_file.h"
#include "debuginfo/pe_image.h"
#include "support/debug_bytes.h"
#include "support/guarded_buffer.h"

namespace {

const int kLineRounds = 20000;
const int kUnitRounds = 10000;
const int kPeRounds = 10000;
const int kNameRounds = 6000;
/* No round comes near this; slowness that input can cause would. */
const double kRoundLimit = 0.25;
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

/* The calling thread's time in seconds, which other threads and other
 * processes do not inflate. */
double ThreadSeconds()
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& t) {
        return ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

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
        const double start = ThreadSeconds();
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
        ASSERT_LT(ThreadSeconds() - start, kRoundLimit) << "round " << round;
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
        const double start = ThreadSeconds();
        tk::AbbreviationIndex abbrevs;
        tk::ForEachCompilationUnit(sections, abbrevs, realloc, free, Visit, &read);
        abbrevs.Clear(free);
        ASSERT_LT(ThreadSeconds() - start, kRoundLimit) << "round " << round;
    }
    EXPECT_GT(read, 0u) << "directories were found";
}

/* The chain of names at address, or "none". */
std::string Names(tk::NameIndex& index, const tk::DebugSections& sections, uint64_t offset)
{
    tk::NameIndex::Call calls[8];
    uint64_t unit = 0;
    const int count = index.Calls(sections, offset, calls, 8, &unit);
    std::string chain = count ? "" : "none";
    for (int i = 0; i < count; ++i) {
        char name[256], path[256];
        index.FunctionName(sections, calls[i].entry, name, sizeof name);
        chain += std::string(" | ") + name;
        if (i > 0 && index.CallFile(sections, unit, calls[i - 1].callFile, path, sizeof path))
            chain += std::string(" at ") + path + ":" + std::to_string(calls[i - 1].callLine);
    }
    return chain;
}

/* Each round takes one unit of .debug_info, alone at the section's start,
 * with its abbreviation table alone at the start of .debug_abbrev, and
 * damages the one or the other; then asks for the names at addresses of
 * the unit's line table. */
TEST_F(ThisProgram, UnitsAndAbbreviationsDamagedAtRandomGiveNoCrashAndSoundOnesTheirNames)
{
    tk::NameIndex whole;
    ASSERT_TRUE(whole.Build(image_.debug, image_.imageBase, realloc, free));
    struct Unit {
        tktest::Bytes info, abbrev;
        std::vector<uint64_t> rows;
    };
    std::vector<Unit> units;
    tk::AbbreviationIndex abbrevs;
    ASSERT_TRUE(tk::PrepareAbbreviations(image_.debug.info, abbrevs, realloc, free));
    for (uint64_t offset = 0, next = 0; offset < image_.debug.info.size; offset = next) {
        tk::UnitHeader header;
        tk::UnitFacts facts;
        tk::LineUnit lines;
        uint64_t after = 0;
        const int table = tk::ReadUnitHeader(image_.debug.info, offset, &header, &next)
            ? abbrevs.Table(image_.debug.abbrev, header.abbrevOffset, realloc) : -1;
        if (table < 0 || next - offset > kLargestUnit ||
            !tk::ReadUnitFacts(header, abbrevs, table, image_.debug, &facts, nullptr) || !facts.hasLines ||
            !tk::ReadLineUnit(image_.debug, facts.lineOffset, &lines, &after))
            continue;
        Unit u;
        u.info.assign(image_.debug.info.data + offset, image_.debug.info.data + next);
        /* The unit's table runs to the next unit's, or to the section's end. */
        uint64_t end = image_.debug.abbrev.size;
        for (uint64_t o = next, n = 0; o < image_.debug.info.size; o = n) {
            tk::UnitHeader later;
            if (tk::ReadUnitHeader(image_.debug.info, o, &later, &n) && later.abbrevOffset > header.abbrevOffset) {
                end = later.abbrevOffset;
                break;
            }
        }
        u.abbrev.assign(image_.debug.abbrev.data + header.abbrevOffset, image_.debug.abbrev.data + end);
        memset(&u.info[header.form.version >= 5 ? 8 : 6], 0, 4);
        tk::LineProgram program(lines);
        tk::LineRow row;
        while (program.Next(&row))
            if (!row.endSequence && row.address >= image_.imageBase)
                u.rows.push_back(row.address - image_.imageBase);
        if (!u.rows.empty() && u.abbrev.size() <= kLargestUnit)
            units.push_back(u);
    }
    abbrevs.Clear(free);
    ASSERT_GT(units.size(), 10u);

    FencedCopy info(kLargestUnit), abbrev(kLargestUnit);
    std::mt19937 random(20261211);
    int sound = 0, named = 0;
    for (int round = 0; round < kNameRounds; ++round) {
        const Unit& unit = units[random() % units.size()];
        tktest::Bytes infoBytes = unit.info, abbrevBytes = unit.abbrev;
        const int changes = Damage(random() % 2 ? infoBytes : abbrevBytes, random);
        /* A unit cut short says so, so that its entries are read up to the cut. */
        if (infoBytes.size() >= 4 && random() % 2) {
            const uint32_t length = static_cast<uint32_t>(infoBytes.size() - 4);
            memcpy(infoBytes.data(), &length, 4);
        }
        tk::DebugSections sections = image_.debug;
        sections.info = info.Place(infoBytes);
        sections.abbrev = abbrev.Place(abbrevBytes);
        sections.aranges = tk::ByteRange{ nullptr, 0 };
        const double start = ThreadSeconds();
        tk::NameIndex index;
        ASSERT_TRUE(index.Build(sections, image_.imageBase, realloc, free));
        for (int probe = 0; probe < 4; ++probe) {
            const uint64_t offset = unit.rows[random() % unit.rows.size()];
            const std::string names = Names(index, sections, offset);
            if (changes == 0) {
                ++sound;
                named += names != "none";
                ASSERT_EQ(names, Names(whole, image_.debug, offset)) << "round " << round << ", offset 0x" << std::hex
                                                                      << offset;
            }
        }
        index.Clear();
        ASSERT_LT(ThreadSeconds() - start, kRoundLimit) << "round " << round;
    }
    EXPECT_GT(named, sound / 2) << "the probes hit functions";
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
        const double start = ThreadSeconds();
        tk::PeImage image;
        const bool pe = tk::ReadPeImage(range, &image);
        ASSERT_LT(ThreadSeconds() - start, kRoundLimit) << "round " << round;
        if (!pe)
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
