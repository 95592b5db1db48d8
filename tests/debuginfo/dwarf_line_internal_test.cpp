/* The source-line reader's byte parsers, as tables: debug sections in,
 * the line of each address out. One row per way a parser could go wrong:
 * each version's header, 64-bit DWARF, the program's opcodes, sequence
 * ends, paths, and hostile bytes that must give no line rather than a
 * crash, an overrun or a wrong line. Every section ends at an inaccessible
 * page, so a read past its end fails the test. */
#include <gtest/gtest.h>

#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "debuginfo/line_index.h"
#include "debuginfo/pe_image.h"
#include "support/debug_bytes.h"
#include "support/guarded_buffer.h"

namespace {

using tktest::Bytes;
using tktest::LineUnitBytes;
using tktest::NewTables;
using tktest::OldTables;
using tktest::Out;
using tktest::Program;

const uint64_t kImageBase = 0x400000;

struct Sections {
    Bytes line, lineStr, str, info, abbrev;
};

struct Probe {
    uint64_t address;
    std::string answer;   /* "path:line", or "none" */
};

struct Case {
    const char* name;
    Sections sections;
    std::vector<Probe> probes;
};

/* Copies of the sections that each end at an inaccessible page. */
class Fenced {
public:
    explicit Fenced(const Sections& s)
        : line_(Place(s.line)), lineStr_(Place(s.lineStr)), str_(Place(s.str)), info_(Place(s.info)),
          abbrev_(Place(s.abbrev))
    {
    }
    tk::DebugSections View() const
    {
        tk::DebugSections sections = {};
        sections.line = line_.range;
        sections.lineStr = lineStr_.range;
        sections.str = str_.range;
        sections.info = info_.range;
        sections.abbrev = abbrev_.range;
        return sections;
    }

private:
    struct Copy {
        std::shared_ptr<tktest::FencedBuffer> fence;
        tk::ByteRange range;
    };
    static Copy Place(const Bytes& bytes)
    {
        Copy copy = { nullptr, { nullptr, 0 } };
        if (bytes.empty())
            return copy;
        copy.fence = std::make_shared<tktest::FencedBuffer>(bytes.size());
        memcpy(copy.fence->Data(), bytes.data(), bytes.size());
        copy.range = { reinterpret_cast<const unsigned char*>(copy.fence->Data()), bytes.size() };
        return copy;
    }
    Copy line_, lineStr_, str_, info_, abbrev_;
};

std::string Answer(const tk::DebugSections& sections, const tk::LineIndex& index, uint64_t address)
{
    char path[256];
    unsigned line = 0;
    if (!index.Find(sections, address - kImageBase, path, sizeof path, &line))
        return "none";
    return std::string(path) + ":" + std::to_string(line);
}

/* Rows at 0x401000 (line 10), two at 0x401004 (12, then 13, which holds
 * the range), 0x40100c (10), and the sequence's end at 0x401010. */
Program Common()
{
    Program p;
    p.Address(0x401000).Line(9).Copy().Special(4, 2).Special(0, 1).Pc(8).Line(-3).Copy().Pc(4).End();
    return p;
}

std::vector<Probe> CommonProbes(const std::string& path)
{
    return { { 0x400fff, "none" },        { 0x401000, path + ":10" }, { 0x401003, path + ":10" },
             { 0x401004, path + ":13" },  { 0x40100b, path + ":13" }, { 0x40100c, path + ":10" },
             { 0x40100f, path + ":10" },  { 0x401010, "none" } };
}

Bytes Unit(unsigned version, const Bytes& tables, const Program& program, bool wide = false)
{
    LineUnitBytes unit;
    unit.version = version;
    unit.wide = wide;
    unit.tables = tables;
    unit.program = program;
    return unit.Encode();
}

const Bytes kSrcTables = OldTables({ "/src" }, { { "a.c", 1 } });

Sections Line(const Bytes& line)
{
    Sections s;
    s.line = line;
    return s;
}

Sections Version5(bool wide)
{
    Sections s;
    s.line = Unit(5, NewTables({ "/build", "/src" }, { { "a.c", 1 }, { "a.c", 1 } }, s.lineStr, wide), Common(), wide);
    return s;
}

/* The compilation units that name line table 0: the first has an attribute
 * of a form no reader knows, so it is passed over; the second, of version
 * 5, gives the directory "/build" from .debug_line_str. */
Sections WithCompilationUnits(const Bytes& line)
{
    Sections s;
    s.line = line;
    s.lineStr = { '/', 'b', 'u', 'i', 'l', 'd', 0 };
    Out abbrev;
    abbrev.Uleb(3).Uleb(0x11).U8(0).Uleb(0x25).Uleb(0x7e).Uleb(0x10).Uleb(0x17).Uleb(0).Uleb(0);
    abbrev.Uleb(2).Uleb(0x11).U8(0).Uleb(0x13).Uleb(0x21).Sleb(4).Uleb(0x10).Uleb(0x17).Uleb(0x1b).Uleb(0x1f)
        .Uleb(0).Uleb(0).U8(0);
    s.abbrev = abbrev.b;
    Out unknown, current, info;
    unknown.U16(4).U32(0).U8(8).Uleb(3).U8(0).U32(0);
    current.U16(5).U8(1).U8(8).U32(0).Uleb(2).U32(0).U32(0);
    info.U32(unknown.b.size()).Add(unknown.b).U32(current.b.size()).Add(current.b);
    s.info = info.b;
    return s;
}

Program Files()
{
    Program p;
    p.Address(0x401000).Copy().File(2).Special(4, 0).File(3).Special(4, 0).Pc(4).End();
    return p;
}

LineUnitBytes Shaped(void (*shape)(LineUnitBytes&))
{
    LineUnitBytes unit;
    unit.tables = kSrcTables;
    unit.program = Common();
    shape(unit);
    return unit;
}

std::vector<Case> Cases()
{
    const std::vector<Probe> none = { { 0x401000, "none" }, { 0x40100c, "none" } };
    std::vector<Case> cases = {
        { "version 2", Line(Unit(2, kSrcTables, Common())), CommonProbes("/src/a.c") },
        { "version 3", Line(Unit(3, kSrcTables, Common())), CommonProbes("/src/a.c") },
        { "version 4", Line(Unit(4, kSrcTables, Common())), CommonProbes("/src/a.c") },
        { "version 4, 64-bit DWARF", Line(Unit(4, kSrcTables, Common(), true)), CommonProbes("/src/a.c") },
        { "version 5, paths in .debug_line_str", Version5(false), CommonProbes("/src/a.c") },
        { "version 5, 64-bit DWARF", Version5(true), CommonProbes("/src/a.c") },
    };

    Sections relative;
    relative.line = Unit(5, NewTables({ "/build", "./inc" }, { { "z.c", 0 }, { "x.h", 1 }, { "/abs/y.h", 1 } },
                                      relative.lineStr),
                         Files());
    cases.push_back({ "version 5: directory 0 is the compilation directory, and relative ones lie in it", relative,
                      { { 0x401000, "/build/./inc/x.h:1" }, { 0x401004, "/abs/y.h:1" }, { 0x401008, "none" } } });

    const Bytes older = Unit(4, OldTables({ "inc" }, { { "a.c", 0 }, { "b.h", 1 }, { "/abs/c.c", 1 } }), Files());
    cases.push_back({ "version 4: the compilation directory from the unit that names the table",
                      WithCompilationUnits(older),
                      { { 0x401000, "/build/a.c:1" }, { 0x401004, "/build/inc/b.h:1" }, { 0x401008, "/abs/c.c:1" } } });
    cases.push_back({ "version 4 without compilation units: the paths stay relative", Line(older),
                      { { 0x401000, "a.c:1" }, { 0x401004, "inc/b.h:1" } } });
    cases.push_back({ "drive letters, and a directory that ends in a separator",
                      Line(Unit(4, OldTables({ "C:\\src\\", "D:\\lib" }, { { "a.c", 1 }, { "b.c", 2 } }), Files())),
                      { { 0x401000, "C:\\src\\a.c:1" }, { 0x401004, "D:\\lib/b.c:1" } } });

    Program second;
    second.Address(0x402000).Line(99).Copy().Pc(2).End();
    Bytes two = Unit(4, kSrcTables, Common());
    const Bytes b = Unit(2, OldTables({ "/lib" }, { { "b.c", 1 } }), second);
    two.insert(two.end(), b.begin(), b.end());
    cases.push_back({ "two units, and the gap between them", Line(two),
                      { { 0x401004, "/src/a.c:13" }, { 0x401800, "none" }, { 0x402001, "/lib/b.c:100" } } });

    Program advances;
    advances.Address(0x401000).Copy().ConstAddPc().Line(1).Copy().FixedPc(0x20).Line(1).Copy().Pc(1).End();
    cases.push_back({ "const_add_pc adds 17, fixed_advance_pc its operand", Line(Unit(3, kSrcTables, advances)),
                      { { 0x401010, "/src/a.c:1" }, { 0x401011, "/src/a.c:2" }, { 0x401030, "/src/a.c:2" },
                        { 0x401031, "/src/a.c:3" }, { 0x401032, "none" } } });

    LineUnitBytes wideInstructions = Shaped([](LineUnitBytes& u) {
        u.minInstruction = 4;
        u.program = Program();
        u.program.Address(0x401000).Copy().Pc(2).Line(1).Copy().Pc(1).End();
    });
    cases.push_back({ "a minimum instruction length of 4", Line(wideInstructions.Encode()),
                      { { 0x401007, "/src/a.c:1" }, { 0x401008, "/src/a.c:2" }, { 0x40100c, "none" } } });

    LineUnitBytes laterOpcode = Shaped([](LineUnitBytes& u) {
        u.opcodeBase = 14;
        u.program = Program();
        u.program.Address(0x401000).Raw({ 13, 0xAC, 0x02 }).Line(4).Copy().Pc(2).End();
    });
    cases.push_back({ "an opcode of a later version is skipped by its argument count", Line(laterOpcode.Encode()),
                      { { 0x401001, "/src/a.c:5" } } });
    LineUnitBytes fewerOpcodes = Shaped([](LineUnitBytes& u) {
        u.opcodeBase = 10;
        u.program = Program();
        u.program.Address(0x401000).Line(19).Raw({ 10 }).Pc(2).End();
    });
    cases.push_back({ "an opcode base of 10 makes 10 a special opcode", Line(fewerOpcodes.Encode()),
                      { { 0x401001, "/src/a.c:15" } } });

    /* Hostile and damaged bytes: no line at all. */
    Bytes cut = Unit(4, kSrcTables, Common());
    cut.pop_back();
    cases.push_back({ "a unit length that runs past the section", Line(cut), none });
    Out huge;
    huge.U32(0xFFFFFFFF).U64(0xFFFFFFFFFFFFFF00ull).U16(4);
    cases.push_back({ "0xFFFFFFFF and a huge 64-bit length", Line(huge.b), none });
    Bytes header = Unit(4, kSrcTables, Common());
    header[6] = 0xFF;
    header[7] = 0x7F;
    cases.push_back({ "a header length that runs past the unit", Line(header), none });
    Sections unknownForm;
    Out formats;
    formats.U8(1).Uleb(1).Uleb(0x7e).Uleb(1).U8(0x41);
    unknownForm.line = Unit(5, formats.b, Common());
    cases.push_back({ "an unknown form in a version 5 entry format", unknownForm, none });
    Out endless;
    endless.U8(0).Uleb(uint64_t(1) << 62);
    cases.push_back({ "a huge count of entries that take no bytes", Line(Unit(5, endless.b, Common())), none });
    cases.push_back({ "opcode base 0", Line(Shaped([](LineUnitBytes& u) { u.opcodeBase = 0; }).Encode()), none });
    cases.push_back({ "line range 0", Line(Shaped([](LineUnitBytes& u) { u.lineRange = 0; }).Encode()), none });
    cases.push_back({ "several operations per instruction",
                      Line(Shaped([](LineUnitBytes& u) { u.maxOperations = 4; }).Encode()), none });
    cases.push_back({ "version 6", Line(Shaped([](LineUnitBytes& u) { u.version = 6; }).Encode()), none });
    cases.push_back({ "version 1", Line(Shaped([](LineUnitBytes& u) { u.version = 1; }).Encode()), none });

    const struct {
        const char* name;
        Program program;
    } programs[] = {
        { "an address advance that overflows", Program().Address(0x401000).Copy().Pc(UINT64_MAX).Copy().Pc(1).End() },
        { "a sequence that runs 4 GiB past the image base",
          Program().Address(0x401000).Copy().Pc(uint64_t(1) << 33).End() },
        { "a line advance past 32 bits", Program().Address(0x401000).Line(int64_t(1) << 32).Copy().Pc(16).End() },
        { "a line below 0", Program().Address(0x401000).Line(-2).Copy().Pc(4).End() },
        { "line 0, code of no line", Program().Address(0x401000).Line(-1).Copy().Pc(16).End() },
        { "a file index past the table", Program().Address(0x401000).File(7).Copy().Pc(16).End() },
        { "file index 0 before version 5", Program().Address(0x401000).File(0).Copy().Pc(16).End() },
        { "damage after a sound sequence of the same unit",
          Common().Address(0x402000).Copy().Raw({ 0, 5, 2 }) },
        { "a sequence without its end", Program().Address(0x401000).Copy().Pc(16).Line(1).Copy() },
        { "addresses that run backwards",
          Program().Address(0x401008).Copy().Address(0x401000).Copy().Pc(16).End() },
        { "an extended opcode of length 0", Program().Address(0x401000).Copy().Raw({ 0, 0 }).Pc(16).End() },
        { "an extended opcode longer than the program", Program().Address(0x401000).Copy().Raw({ 0, 0x7F, 4 }) },
        { "an address of 9 bytes",
          Program().Raw({ 0, 10, 2, 0, 0x10, 0x40, 0, 0, 0, 0, 0, 0 }).Copy().Pc(16).End() },
        { "a LEB128 number of more than 64 bits",
          Program().Address(0x401000).Copy().Raw({ 2, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x02 })
              .Copy().End() },
    };
    for (const auto& p : programs)
        cases.push_back({ p.name, Line(Unit(4, kSrcTables, p.program)), none });

    /* Work a lookup could not bound: no line rather than a slow one. */
    Program rowsAtOneAddress, opcodesWithoutRows;
    rowsAtOneAddress.Address(0x401000);
    opcodesWithoutRows.Address(0x401000).Copy();
    for (unsigned i = 0; i <= tk::LineIndex::kMostSteps; ++i) {
        rowsAtOneAddress.Copy();
        opcodesWithoutRows.Raw({ 5, 1 });
    }
    rowsAtOneAddress.Pc(16).End();
    opcodesWithoutRows.Pc(8).Copy().Pc(8).End();
    cases.push_back({ "more rows at one address than a lookup decodes", Line(Unit(4, kSrcTables, rowsAtOneAddress)), none });
    cases.push_back({ "more opcodes between rows than a lookup decodes", Line(Unit(4, kSrcTables, opcodesWithoutRows)),
                      none });
    const std::vector<tktest::OldFile> files(tk::kMostFileEntries + 1, tktest::OldFile{ "a.c", 1 });
    cases.push_back({ "more files than a lookup walks", Line(Unit(4, OldTables({ "/src" }, files), Common())), none });

    /* Sequences that claim the same addresses: none where they overlap. */
    Program later;
    later.Address(0x401008).Line(90).Copy().Pc(16).End();
    Bytes overlapping = Unit(4, kSrcTables, Common());
    const Bytes other = Unit(4, kSrcTables, later);
    overlapping.insert(overlapping.end(), other.begin(), other.end());
    cases.push_back({ "overlapping sequences", Line(overlapping),
                      { { 0x401004, "/src/a.c:13" }, { 0x401008, "none" }, { 0x40100f, "none" } } });

    Sections pastDirectories;
    pastDirectories.line =
        Unit(5, NewTables({ "/build" }, { { "a.c", 3 }, { "a.c", 3 } }, pastDirectories.lineStr), Common());
    cases.push_back({ "a version 5 directory index past the table", pastDirectories, none });
    Sections pastStrings = Version5(false);
    pastStrings.lineStr.resize(4);
    cases.push_back({ "paths past the end of .debug_line_str, or not ended inside it", pastStrings, none });
    return cases;
}

TEST(LineTables, AnswerEachAddressOrGiveNoLine)
{
    for (const Case& c : Cases()) {
        const Fenced fenced(c.sections);
        const tk::DebugSections sections = fenced.View();
        tk::LineIndex index;
        ASSERT_TRUE(index.Build(sections, kImageBase, realloc, free)) << c.name;
        for (const Probe& probe : c.probes)
            EXPECT_EQ(Answer(sections, index, probe.address), probe.answer)
                << c.name << ", address 0x" << std::hex << probe.address;
        index.Clear(free);
    }
}

TEST(LineTables, AnIndexThatCannotGrowIsEmptyAndSaysSo)
{
    const Sections s = Line(Unit(4, kSrcTables, Common()));
    const Fenced fenced(s);
    tk::LineIndex index;
    static int allowed;
    allowed = 0;
    const auto tight = [](void* block, size_t bytes) { return allowed-- > 0 ? realloc(block, bytes) : nullptr; };
    EXPECT_FALSE(index.Build(fenced.View(), kImageBase, tight, free));
    EXPECT_EQ(index.Entries(), 0);
    EXPECT_EQ(Answer(fenced.View(), index, 0x401000), "none");
    EXPECT_TRUE(index.Build(fenced.View(), kImageBase, realloc, free));
    EXPECT_EQ(Answer(fenced.View(), index, 0x401000), "/src/a.c:10");
    EXPECT_EQ(index.Rows(), 4u);
    index.Clear(free);
}

/* Every unit names one abbreviation table of as many declarations, and
 * declares its first entry with the last: a table read per unit is
 * quadratic (seconds), a table read once is not. */
TEST(LineTables, ManyTinyUnitsOfOneLargeAbbreviationTableAreReadInLinearTime)
{
    const int kUnits = 40000;
    Sections s = Line(Unit(4, kSrcTables, Common()));
    Out abbrev, info;
    for (int code = 1; code <= kUnits; ++code)
        abbrev.Uleb(code).Uleb(0x11).U8(0).Uleb(0x10).Uleb(0x17).Uleb(0).Uleb(0);
    abbrev.U8(0);
    Out unit;
    unit.U16(4).U32(0).U8(4).Uleb(kUnits).U32(0);
    for (int i = 0; i < kUnits; ++i)
        info.U32(unit.b.size()).Add(unit.b);
    s.abbrev = abbrev.b;
    s.info = info.b;
    const Fenced fenced(s);
    tk::LineIndex index;
    const DWORD start = GetTickCount();
    ASSERT_TRUE(index.Build(fenced.View(), kImageBase, realloc, free));
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(Answer(fenced.View(), index, 0x401000), "/src/a.c:10");
    index.Clear(free);
}

/* A PE file with the sections MinGW writes: a short name, and long ones
 * through the string table. */
Bytes Pe(bool plus, const Bytes& line)
{
    Out strings;
    strings.Text(".debug_line").Text(".debug_line_str").Text(".gnu_debuglink");
    Out link;
    link.Text("a.debug").U32(0xC0FFEE11);
    return tktest::PeFile(plus, plus ? 0x140000000ull : 0x400000,
                          { { ".text", { 0xC3 }, 0 }, { "/4", line, 0 }, { "/16", { 'x', 0 }, 0 },
                            { "/32", link.b, 0 }, { "/999", { 1, 2 }, 0 }, { ".debug_in", { 3 }, 0 } },
                          strings.b);
}

std::string Range(const Bytes& file, const unsigned char* data, tk::ByteRange range)
{
    if (!range.data)
        return "none";
    return std::to_string(range.data - data) + "+" + std::to_string(range.size) +
        (range.data + range.size <= data + file.size() ? "" : " PAST THE FILE");
}

TEST(PeFiles, FindTheDebugSectionsByTheirLongNames)
{
    for (bool plus : { false, true }) {
        const Bytes file = Pe(plus, { 1, 2, 3, 4, 5 });
        tktest::FencedBuffer fence(file.size());
        memcpy(fence.Data(), file.data(), file.size());
        const unsigned char* data = reinterpret_cast<const unsigned char*>(fence.Data());
        tk::PeImage image;
        ASSERT_TRUE(tk::ReadPeImage({ data, file.size() }, &image)) << plus;
        EXPECT_EQ(image.imageBase, plus ? 0x140000000ull : 0x400000u);
        EXPECT_EQ(image.timeStamp, 0x5EED1234u);
        EXPECT_EQ(image.imageSize, 0x9000u);
        const size_t first = 0x40 + 24 + (plus ? 240 : 224) + 6 * 40;
        EXPECT_EQ(Range(file, data, image.debug.line), std::to_string(first + 1) + "+5");
        EXPECT_EQ(Range(file, data, image.debug.lineStr), std::to_string(first + 6) + "+2");
        EXPECT_EQ(Range(file, data, image.debug.info), "none") << "a name cut at eight bytes is no long name";
        const char* name = nullptr;
        uint32_t crc = 0;
        ASSERT_TRUE(tk::ReadDebugLink(image.debugLink, &name, &crc));
        EXPECT_STREQ(name, "a.debug");
        EXPECT_EQ(crc, 0xC0FFEE11u);

        /* Cut anywhere: no PE file, or sections that lie inside what is
         * left; never a read past it. */
        for (size_t size = 0; size < file.size(); ++size) {
            tktest::FencedBuffer cut(size ? size : 1);
            memcpy(cut.Data(), file.data(), size);
            const unsigned char* at = reinterpret_cast<const unsigned char*>(cut.Data());
            tk::PeImage part;
            if (!tk::ReadPeImage({ at, size }, &part))
                continue;
            for (tk::ByteRange r : { part.debug.line, part.debug.lineStr, part.debugLink })
                EXPECT_EQ(Range(Bytes(file.begin(), file.begin() + size), at, r).find("PAST"), std::string::npos);
        }
    }
}

TEST(PeFiles, RejectWhatIsNoPeFile)
{
    const struct {
        const char* name;
        size_t at;
        unsigned char value;
    } damage[] = {
        { "no MZ", 0, 'X' }, { "the header offset past the file", 0x3F, 0x7F }, { "no PE signature", 0x40, 'Q' },
        { "an unknown optional header", 0x58, 0x07 },
    };
    for (const auto& d : damage) {
        Bytes file = Pe(false, { 1 });
        file[d.at] = d.value;
        tk::PeImage image;
        EXPECT_FALSE(tk::ReadPeImage({ file.data(), file.size() }, &image)) << d.name;
    }
}

TEST(PeFiles, ReadTheDebugLinkOfAStrippedFile)
{
    const struct {
        Bytes section;
        const char* name;   /* null: rejected */
    } links[] = {
        { Out().Text("a.debug").U32(0x11223344).b, "a.debug" },
        { Out().Text("ab").U8(0).U32(0x11223344).b, "ab" },
        { Out().Text("sub\\a.debug").U32(1).b, nullptr },
        { Out().Text("../a.debug").U32(1).b, nullptr },
        { Out().Text("C:a.debug").U32(1).b, nullptr },
        { Out().Text("").U8(0).U16(0).U32(1).b, nullptr },
        { Out().Text("a.debug").U16(1).b, nullptr },
        { Bytes{ 'a', 'b', 'c' }, nullptr },
        /* Devices, which opening may wait on, whatever their case or
         * extension; names that only begin like one are files. */
        { Out().Text("NUL").U32(1).b, nullptr },
        { Out().Text("com1.debug").U32(1).b, nullptr },
        { Out().Text("Con .txt").U32(1).b, nullptr },
        { Out().Text("LPT9").U32(1).b, nullptr },
        { Out().Text("COM\xB9").U32(1).b, nullptr },
        { Out().Text("conin$").U32(1).b, nullptr },
        { Out().Text("nul2.debug").U8(0).U32(0x11223344).b, "nul2.debug" },
        { Out().Text("console.debug").U16(0).U32(0x11223344).b, "console.debug" },
    };
    for (const auto& link : links) {
        tktest::FencedBuffer fence(link.section.size());
        memcpy(fence.Data(), link.section.data(), link.section.size());
        const char* name = nullptr;
        uint32_t crc = 0;
        const bool read = tk::ReadDebugLink(
            { reinterpret_cast<const unsigned char*>(fence.Data()), link.section.size() }, &name, &crc);
        EXPECT_EQ(read, link.name != nullptr) << (link.name ? link.name : "a rejected link");
        if (read && link.name) {
            EXPECT_STREQ(name, link.name);
            EXPECT_EQ(crc, 0x11223344u);
        }
    }
}

}  // namespace
