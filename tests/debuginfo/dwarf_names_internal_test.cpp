/* The name readers' table: DWARF units in, the chain of functions at each
 * address out, innermost first, each with the line of its call in the
 * next. One row per way a reader could go wrong: both versions' forms of
 * addresses, texts and range lists, abstract origins, links to declarations and
 * scopes, .debug_aranges or the units' own ranges, and hostile bytes that
 * must give no name rather than a crash or a wrong one. Every section ends
 * at an inaccessible page. */
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "debugnames/name_index.h"
#include "debugnames/range_list.h"
#include "support/dwarf_entries.h"
#include "support/guarded_buffer.h"

namespace {

using namespace tktest;

const uint64_t kImageBase = 0x400000;

struct Sections {
    Bytes info, abbrev, str, aranges, ranges, rnglists, addr, strOffsets;
};

struct Probe {
    uint64_t address;
    std::string chain;   /* "name | name@line | ...", or "none" */
};

/* Copies of the sections, each ending at an inaccessible page. */
class Fenced {
public:
    explicit Fenced(const Sections& s)
    {
        const Bytes* sources[] = { &s.info, &s.abbrev, &s.str, &s.aranges, &s.ranges, &s.rnglists, &s.addr, &s.strOffsets };
        tk::ByteRange* targets[] = { &view_.info, &view_.abbrev, &view_.str, &view_.aranges, &view_.ranges,
                                     &view_.rnglists, &view_.addr, &view_.strOffsets };
        view_ = tk::DebugSections();
        for (size_t i = 0; i < 8; ++i) {
            if (sources[i]->empty())
                continue;
            fences_.push_back(std::make_shared<FencedBuffer>(sources[i]->size()));
            memcpy(fences_.back()->Data(), sources[i]->data(), sources[i]->size());
            *targets[i] = { reinterpret_cast<const unsigned char*>(fences_.back()->Data()), sources[i]->size() };
        }
    }
    const tk::DebugSections& View() const { return view_; }

private:
    std::vector<std::shared_ptr<FencedBuffer>> fences_;
    tk::DebugSections view_;
};

std::string Chain(tk::NameIndex& index, const tk::DebugSections& sections, uint64_t address)
{
    tk::NameIndex::Call calls[8];
    uint64_t unit = 0;
    const int count = index.Calls(sections, address - kImageBase, calls, 8, &unit);
    if (count == 0)
        return "none";
    std::string chain;
    for (int i = 0; i < count; ++i) {
        char name[64];
        if (index.FunctionName(sections, calls[i].entry, name, sizeof name) == tk::NameIndex::kNoName)
            strcpy(name, "??");
        chain += std::string(i ? " | " : "") + name;
        if (i > 0)
            chain += "@" + std::to_string(calls[i - 1].callLine);
    }
    return chain;
}

/* Version 5: a method declared in ns::Box and defined out of its class,
 * its address by index; helper inlined into it over a range list by index,
 * and leaf into helper; names by index into .debug_str_offsets, or by
 * offset into .debug_str; .debug_aranges names the unit's addresses. */
struct Version5 {
    Sections s;
    InfoUnit unit;
    uint64_t concrete = 0;

    explicit Version5(bool aranges = true)
    {
        Abbreviations abbrev;
        abbrev.Declare(1, kTagCompileUnit, true, { { kAtLowPc, kFormAddr }, { kAtHighPc, kFormData4 },
                                                   { kAtStrOffsetsBase, kFormSecOffset },
                                                   { kAtAddrBase, kFormSecOffset },
                                                   { kAtRnglistsBase, kFormSecOffset } })
            .Declare(2, kTagNamespace, true, { { kAtName, kFormString } })
            .Declare(3, kTagStructure, true, { { kAtName, kFormString } })
            .Declare(4, kTagSubprogram, false, { { kAtName, kFormStrx1 }, { kAtDeclaration, kFormFlagPresent } })
            .Declare(5, kTagSubprogram, true, { { kAtDeclarationLink, kFormRef4 }, { kAtLowPc, kFormAddrx1 },
                                                { kAtHighPc, kFormData4 } })
            .Declare(6, kTagInlined, true, { { kAtAbstractOrigin, kFormRef4 }, { kAtRanges, kFormRnglistx },
                                             { kAtCallFile, kFormData1 }, { kAtCallLine, kFormData2 } })
            .Declare(7, kTagSubprogram, false, { { kAtLinkageName, kFormStrp }, { kAtName, kFormString } })
            .Declare(8, kTagInlined, false, { { kAtAbstractOrigin, kFormRefAddr }, { kAtLowPc, kFormAddr },
                                              { kAtHighPc, kFormAddr }, { kAtCallFile, kFormUdata },
                                              { kAtCallLine, kFormUdata } })
            .End();
        s.abbrev = abbrev.b;
        s.str = Out().Text("run").Text("_Z6helperi").Text("_Z4leafv").b;
        s.strOffsets = Out().U32(8).U16(5).U16(0).U32(0).b;
        s.addr = Out().U32(12).U16(5).U8(8).U8(0).U64(0x401000).b;
        Out lists;
        lists.U16(5).U8(8).U8(0).U32(1).U32(4);
        lists.U8(7).U64(0x401010).Uleb(0x20).U8(6).U64(0x401080).U64(0x401090).U8(0);
        s.rnglists = Out().U32(lists.b.size()).Add(lists.b).b;
        if (aranges) {
            Out set;
            set.U16(2).U32(0).U8(8).U8(0).U32(0).U64(0x401000).U64(0x100).U64(0).U64(0);
            s.aranges = Out().U32(set.b.size()).Add(set.b).b;
        }
        unit.Entry(1, Out().U64(0x401000).U32(0x100).U32(8).U32(8).U32(12).b);
        unit.Entry(2, Out().Text("ns").b).Entry(3, Out().Text("Box").b);
        const uint64_t declaration = unit.Here();
        unit.Entry(4, Out().U8(0).b).Null().Null();
        const uint64_t helper = unit.Here();
        unit.Entry(7, Out().U32(4).Text("helper").b);
        const uint64_t leaf = unit.Here();
        unit.Entry(7, Out().U32(15).Text("leaf").b);
        concrete = unit.Here();
        unit.Entry(5, Out().U32(declaration).U8(0).U32(0x100).b);
        unit.Entry(6, Out().U32(helper).Uleb(0).U8(1).U16(20).b);
        unit.Entry(8, Out().U32(leaf).U64(0x401018).U64(0x401020).Uleb(1).Uleb(30).b).Null().Null().Null();
        s.info = unit.Encode();
    }
};

const std::vector<Probe> kVersion5Probes = {
    { 0x401000, "ns::Box::run" },
    { 0x401012, "_Z6helperi | ns::Box::run@20" },
    { 0x40101a, "_Z4leafv | _Z6helperi@30 | ns::Box::run@20" },
    { 0x401040, "ns::Box::run" },
    { 0x401085, "_Z6helperi | ns::Box::run@20" },
    { 0x401100, "none" },
};

/* Version 4 with 4-byte addresses: a function of an anonymous namespace,
 * its name in .debug_str, in a unit whose own ranges (.debug_ranges, with
 * a base address entry) say where it lies. */
Sections Version4()
{
    Sections s;
    Abbreviations abbrev;
    abbrev.Declare(1, kTagCompileUnit, true, { { kAtLowPc, kFormAddr }, { kAtRanges, kFormSecOffset } })
        .Declare(2, kTagNamespace, true, {})
        .Declare(3, kTagSubprogram, false, { { kAtName, kFormStrp }, { kAtLowPc, kFormAddr }, { kAtHighPc, kFormData4 } })
        .End();
    s.abbrev = abbrev.b;
    s.str = Out().Text("tick").b;
    s.ranges = Out().U32(0xFFFFFFFF).U32(0x402000).U32(0).U32(0x40).U32(0).U32(0).b;
    InfoUnit unit;
    unit.version = 4;
    unit.addressSize = 4;
    unit.Entry(1, Out().U32(0).U32(0).b).Entry(2).Entry(3, Out().U32(0).U32(0x402000).U32(0x40).b).Null().Null();
    s.info = unit.Encode();
    return s;
}

struct Case {
    const char* name;
    Sections sections;
    std::vector<Probe> probes;
};

std::vector<Case> Cases()
{
    const std::vector<Probe> none = { { 0x401000, "none" }, { 0x40101a, "none" }, { 0x401085, "none" } };
    std::vector<Case> cases = {
        { "version 5, through .debug_aranges", Version5().s, kVersion5Probes },
        { "version 5, through the unit's own ranges", Version5(false).s, kVersion5Probes },
        { "version 4, .debug_ranges with a base address, an anonymous namespace", Version4(),
          { { 0x402010, "(anonymous namespace)::tick" }, { 0x402040, "none" }, { 0x401010, "none" } } },
    };

    Version5 loop;
    const Bytes self = Out().U32(static_cast<uint32_t>(loop.concrete)).b;
    memcpy(&loop.s.info[loop.concrete + 1], self.data(), 4);
    cases.push_back({ "a link to a declaration that names its own entry", loop.s,
                      { { 0x401000, "??" }, { 0x401012, "_Z6helperi | ??@20" } } });

    Version5 undeclared;
    undeclared.s.info[undeclared.concrete] = 99;
    cases.push_back({ "an entry of an undeclared code", undeclared.s, none });

    Version5 overlapping;
    Out sets;
    sets.U16(2).U32(0).U8(8).U8(0).U32(0).U64(0x400f00).U64(0x180).U64(0).U64(0);
    overlapping.s.aranges.insert(overlapping.s.aranges.end(), { 44, 0, 0, 0 });
    overlapping.s.aranges.insert(overlapping.s.aranges.end(), sets.b.begin(), sets.b.end());
    cases.push_back({ "two spans of .debug_aranges over the same addresses", overlapping.s, none });

    Version5 deep;
    Out nested;
    for (int i = 0; i < tk::UnitFunctions::kMostDepth; ++i)
        nested.Uleb(2).Text("n");
    deep.s.info.insert(deep.s.info.begin() + 12 + 1 + 8 + 4 * 4, nested.b.begin(), nested.b.end());
    deep.s.info.insert(deep.s.info.end(), tk::UnitFunctions::kMostDepth, 0);
    const uint32_t length = static_cast<uint32_t>(deep.s.info.size() - 4);
    memcpy(deep.s.info.data(), &length, 4);
    cases.push_back({ "entries nested deeper than a reader follows", deep.s, none });

    Version5 longList;
    Out many;
    many.U16(5).U8(8).U8(0).U32(1).U32(4);
    for (unsigned i = 0; i <= tk::kMostRanges; ++i)
        many.U8(7).U64(0x401010 + i).Uleb(1);
    many.U8(0);
    longList.s.rnglists = Out().U32(many.b.size()).Add(many.b).b;
    cases.push_back({ "a range list longer than a reader reads: no calls inlined into that call either",
                      longList.s, { { 0x401012, "ns::Box::run" }, { 0x40101a, "ns::Box::run" } } });
    return cases;
}

TEST(FunctionNames, AnswerEachAddressWithItsChainOrNone)
{
    for (const Case& c : Cases()) {
        const Fenced fenced(c.sections);
        tk::NameIndex index;
        ASSERT_TRUE(index.Build(fenced.View(), kImageBase, realloc, free)) << c.name;
        for (const Probe& probe : c.probes)
            EXPECT_EQ(Chain(index, fenced.View(), probe.address), probe.chain)
                << c.name << ", address 0x" << std::hex << probe.address;
        EXPECT_LE(index.UnitsRead(), 1) << "only the unit a lookup reached is read";
    }
}

TEST(FunctionNames, AnIndexThatCannotGrowIsEmptyAndSaysSo)
{
    const Version5 v5;
    const Fenced fenced(v5.s);
    tk::NameIndex index;
    static int allowed;
    allowed = 0;
    const auto tight = [](void* block, size_t bytes) { return allowed-- > 0 ? realloc(block, bytes) : nullptr; };
    EXPECT_FALSE(index.Build(fenced.View(), kImageBase, tight, free));
    EXPECT_EQ(index.Units(), 0);
    EXPECT_EQ(Chain(index, fenced.View(), 0x401000), "none");
    ASSERT_TRUE(index.Build(fenced.View(), kImageBase, realloc, free));
    EXPECT_EQ(Chain(index, fenced.View(), 0x40101a), "_Z4leafv | _Z6helperi@30 | ns::Box::run@20");
}

}  // namespace
