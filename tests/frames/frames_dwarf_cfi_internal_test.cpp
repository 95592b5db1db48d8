/* The i686 call-frame interpreter, bytes in and answer out: for each row a
 * hand-made CIE and FDE, which the frame lookup's seam hands to the walk, a
 * stack of the test's own, and the caller's registers that stepping one
 * frame gives, or a refusal. */
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "frames/frame_walk.h"
#include "frames/i686/fde_index.h"
#include "support/byte_writer.h"

namespace {

using tktest::Bytes;
using tktest::Out;

/* The registers by their DWARF numbers. */
const int kEax = 0, kEbx = 3, kEbp = 5, kEip = 8;

/* The function the table covers, at an address no code has: only the
 * stand-in lookup knows it. */
const DWORD kBegin = 0x10000;
const DWORD kRange = 0x1000;
/* The words of the test's stack; slot i holds kWord + i unless a row makes
 * it point into the stack. */
const int kWords = 16;
const DWORD kWord = 0xA000;
/* Registers before the step: esp at slot 0, ebp at slot 2. */
const int kEspSlot = 0, kEbpSlot = 2;
const DWORD kEaxValue = 0x5555, kEbxValue = 0x6666;

struct Table {
    std::string augmentation = "";
    Bytes cieData;       /* the CIE's augmentation data, when it starts with z */
    Bytes cie;           /* the CIE's initial instructions */
    Bytes fdeData;       /* the FDE's augmentation data, when the CIE's starts with z */
    Bytes fde;           /* the FDE's instructions */
    int returnColumn = kEip;
};

/* The rules on entry to a function: the CFA is esp + 4, the return
 * address at CFA - 4. */
const Bytes kEntry = { 0x0C, 4, 4, 0x80 | kEip, 1 };

/* A length-prefixed entry, padded with nops to a multiple of four. */
void PutEntry(Out& out, Bytes body)
{
    while ((body.size() + 4) % 4)
        body.push_back(0);
    out.U32(body.size()).Add(body);
}

/* The CIE, the FDE that covers kBegin and the table's end, laid out as
 * GCC writes .eh_frame: version 1, code alignment 1, data alignment -4. */
Bytes Assemble(const Table& t, size_t* fdeAt)
{
    const bool z = !t.augmentation.empty() && t.augmentation[0] == 'z';
    Out cie;
    cie.U32(0).U8(1).Text(t.augmentation).Uleb(1).Sleb(-4).U8(t.returnColumn);
    if (z)
        cie.Uleb(t.cieData.size()).Add(t.cieData);
    cie.Add(t.cie);
    Out out;
    PutEntry(out, cie.b);

    *fdeAt = out.b.size();
    Out fde;
    fde.U32(out.b.size() + 4).U32(kBegin).U32(kRange);   /* back to the CIE from its first field */
    if (z)
        fde.Uleb(t.fdeData.size()).Add(t.fdeData);
    fde.Add(t.fde);
    PutEntry(out, fde.b);
    out.U32(0);
    return out.b;
}

/* The table the stand-in lookup hands out. */
const unsigned char* g_fde;

const void* Find(void* pc, dwarf_eh_bases* bases)
{
    const DWORD at = static_cast<DWORD>(reinterpret_cast<DWORD_PTR>(pc));
    if (at < kBegin || at >= kBegin + kRange)
        return nullptr;
    bases->func = reinterpret_cast<void*>(static_cast<DWORD_PTR>(kBegin));
    return g_fde;
}
const tk::FrameLookupPlatform kLookup = { Find };

/* What a row expects of one register: a value, or the address of a stack
 * slot. */
struct Register {
    int number;
    bool slot;
    DWORD value;
};

struct Row {
    const char* what;
    Table table;
    DWORD at;                            /* the program counter's offset from kBegin */
    bool first;                          /* the faulting frame, else a return address */
    bool steps;
    std::vector<Register> expected;      /* esp's slot and the registers named */
    std::vector<std::pair<int, int>> pointers = {};   /* slot i holds the address of slot j */
};

Register Eip(DWORD slot) { return { kEip, false, kWord + slot }; }
Register EspAt(DWORD slot) { return { 4, true, slot }; }
Register Saved(int number, DWORD slot) { return { number, false, kWord + slot }; }

DWORD* Slot(CONTEXT& c, int number)
{
    DWORD* slots[] = { &c.Eax, &c.Ecx, &c.Edx, &c.Ebx, &c.Esp, &c.Ebp, &c.Esi, &c.Edi, &c.Eip };
    return slots[number];
}

TEST(FramesDwarfCfi, StepsOneFrameByTheRulesAtItsAddress)
{
    const Bytes afterPush = { 0x41, 0x0E, 8, 0x80 | kEbp, 2 };
    Bytes afterMove = afterPush;
    afterMove.insert(afterMove.end(), { 0x42, 0x0D, kEbp });
    const Bytes epilogue = { 0x41, 0x0E, 8, 0x80 | kEbp, 2, 0x0A, 0x41, 0x0E, 4, 0xC0 | kEbp, 0x41, 0x0B };
    const std::vector<Row> rows = {
        { "on entry, the return address on top", { "", {}, kEntry, {}, {} }, 0, true, true,
          { Eip(0), EspAt(1), { kEbp, true, kEbpSlot } } },
        { "after push ebp", { "", {}, kEntry, {}, afterPush }, 1, true, true,
          { Eip(1), EspAt(2), Saved(kEbp, 0) } },
        { "before an advance, the rules before it", { "", {}, kEntry, {}, afterPush }, 0, true, true,
          { Eip(0), EspAt(1) } },
        { "after mov ebp, esp: the CFA from ebp", { "", {}, kEntry, {}, afterMove }, 3, true, true,
          { Eip(3), EspAt(4), Saved(kEbp, 2) } },
        { "a return address looks up the call before it", { "", {}, kEntry, {}, afterMove }, 3, false, true,
          { Eip(1), EspAt(2), Saved(kEbp, 0) } },
        { "advance_loc1, before", { "", {}, kEntry, {}, { 0x02, 16, 0x0E, 8 } }, 15, true, true, { Eip(0) } },
        { "advance_loc1, at", { "", {}, kEntry, {}, { 0x02, 16, 0x0E, 8 } }, 16, true, true, { Eip(1) } },
        { "advance_loc2", { "", {}, kEntry, {}, { 0x03, 0x00, 0x01, 0x0E, 8 } }, 0x100, true, true, { Eip(1) } },
        { "advance_loc2, before", { "", {}, kEntry, {}, { 0x03, 0x00, 0x01, 0x0E, 8 } }, 0xFF, true, true,
          { Eip(0) } },
        { "advance_loc4", { "", {}, kEntry, {}, { 0x04, 0x00, 0x02, 0, 0, 0x0E, 8 } }, 0x1FF, true, true,
          { Eip(0) } },
        { "remember, then restore ebp to the CIE's rule", { "", {}, kEntry, {}, epilogue }, 2, true, true,
          { Eip(0), EspAt(1), { kEbp, true, kEbpSlot } } },
        { "restore_state", { "", {}, kEntry, {}, epilogue }, 3, true, true, { Eip(1), EspAt(2), Saved(kEbp, 0) } },
        { "restore_state gives back the latest state remembered",
          { "", {}, kEntry, {}, { 0x0E, 8, 0x0A, 0x0E, 12, 0x0A, 0x0E, 16, 0x0B } }, 0, true, true,
          { Eip(2), EspAt(3) } },
        { "restore_state without remember_state", { "", {}, kEntry, {}, { 0x0B } }, 0, true, false, {} },
        { "nine remembered states", { "", {}, kEntry, {}, Bytes(9, 0x0A) }, 0, true, false, {} },
        { "a register kept in another", { "", {}, kEntry, {}, { 0x09, kEbx, kEax } }, 0, true, true,
          { { kEbx, false, kEaxValue } } },
        { "a register left as it was", { "", {}, kEntry, {}, { 0x08, kEbx } }, 0, true, true,
          { { kEbx, false, kEbxValue } } },
        { "val_offset: the CFA less four", { "", {}, kEntry, {}, { 0x14, kEbp, 1 } }, 0, true, true,
          { { kEbp, true, 0 } } },
        { "offset_extended_sf", { "", {}, kEntry, {}, { 0x11, kEbp, 0x7F } }, 0, true, true, { Saved(kEbp, 2) } },
        { "def_cfa_sf", { "", {}, kEntry, {}, { 0x12, 4, 0x7E } }, 0, true, true, { Eip(1), EspAt(2) } },
        { "def_cfa_offset_sf", { "", {}, kEntry, {}, { 0x13, 0x7E } }, 0, true, true, { Eip(1), EspAt(2) } },
        { "GNU_args_size is passed over", { "", {}, kEntry, {}, { 0x2E, 16, 0x0E, 8 } }, 0, true, true,
          { Eip(1) } },
        { "a return address left as it was", { "", {}, kEntry, {}, { 0x08, kEip } }, 0, true, true,
          { { kEip, false, kBegin } } },
        { "an undefined return address: the outermost frame", { "", {}, kEntry, {}, { 0x07, kEip } }, 0, true,
          true, { { kEip, false, 0 } } },
        /* What GCC writes for a function that realigns its stack: the CFA
         * read through a pointer below ebp, ebp saved at ebp. */
        { "a realigned stack's CFA and ebp by expressions",
          { "", {}, kEntry, {}, { 0x0F, 3, 0x75, 0x7C, 0x06, 0x10, kEbp, 2, 0x75, 0 } }, 0, true, true,
          { Eip(5), EspAt(6), Saved(kEbp, 2) }, { { 1, 6 } } },
        { "a CFA by register again after one by expression",
          { "", {}, kEntry, {}, { 0x0F, 3, 0x75, 0x7C, 0x06, 0x0D, kEbp } }, 0, true, true,
          { Eip(2), EspAt(3) }, { { 1, 6 } } },
        { "a register saved at an address reckoned from the CFA",
          { "", {}, kEntry, {}, { 0x41, 0x0E, 8, 0x10, kEbp, 3, 0x11, 0x78, 0x22 } }, 1, true, true,
          { Eip(1), Saved(kEbp, 0) } },
        { "an instruction it does not know", { "", {}, kEntry, {}, { 0x20 } }, 0, true, false, {} },
        { "an expression operation it does not know", { "", {}, kEntry, {}, { 0x0F, 1, 0x96 } }, 0, true, false,
          {} },
        { "a return address in another column", { "", {}, { 0x0C, 4, 4 }, {}, {}, 7 }, 0, true, false, {} },
        { "an augmentation it does not know", { "zX", { 0 }, kEntry, {}, {} }, 0, true, false, {} },
        /* An FDE of a CIE whose augmentation starts with z has data to
         * pass over, also when the CIE names neither personality nor
         * exception table; read as an instruction, 0x0E would move the
         * CFA. */
        { "the augmentation data of a zR FDE", { "zR", { 0x00 }, kEntry, { 0x0E }, { 0x0E, 8 } }, 0, true, true,
          { Eip(1), EspAt(2) } },
    };
    const tk::UsingPlatform<tk::FrameLookupPlatform> lookup(tk::FrameLookupSeam(), kLookup);
    for (const Row& row : rows) {
        size_t fdeAt = 0;
        const Bytes table = Assemble(row.table, &fdeAt);
        g_fde = table.data() + fdeAt;
        DWORD stack[kWords];
        for (int i = 0; i < kWords; ++i)
            stack[i] = kWord + static_cast<DWORD>(i);
        for (const auto& p : row.pointers)
            stack[p.first] = reinterpret_cast<DWORD>(&stack[p.second]);
        CONTEXT context = {};
        context.Eip = kBegin + row.at;
        context.Esp = reinterpret_cast<DWORD>(&stack[kEspSlot]);
        context.Ebp = reinterpret_cast<DWORD>(&stack[kEbpSlot]);
        context.Eax = kEaxValue;
        context.Ebx = kEbxValue;
        tk::FrameFacts facts = {};
        const bool stepped = tk::StepFrame(context, row.first, &facts);
        ASSERT_EQ(stepped, row.steps) << row.what;
        for (const Register& r : row.expected) {
            const DWORD want = r.slot ? reinterpret_cast<DWORD>(&stack[r.value]) : r.value;
            EXPECT_EQ(*Slot(context, r.number), want) << row.what << ", register " << r.number;
        }
        EXPECT_EQ(facts.lsda, nullptr) << row.what << ": no personality, no exception table";
    }
}

TEST(FramesDwarfCfi, ReportsTheExceptionTableOfGccsCxxPersonalityOnly)
{
    tk::LearnPersonality();
    const DWORD gxx = reinterpret_cast<DWORD>(
        GetProcAddress(GetModuleHandleA("libstdc++-6.dll"), "__gxx_personality_v0"));
    ASSERT_NE(gxx, 0u);
    static const unsigned char kLsda[4] = {};
    const DWORD lsda = reinterpret_cast<DWORD>(kLsda);
    const tk::UsingPlatform<tk::FrameLookupPlatform> lookup(tk::FrameLookupSeam(), kLookup);
    /* Another routine: code of this test, which is no import thunk. */
    const DWORD other = reinterpret_cast<DWORD>(&Find);
    for (DWORD personality : { gxx, other }) {
        /* "zPLR": the personality, absolute; exception tables and
         * addresses absolute. */
        Table t;
        t.augmentation = "zPLR";
        t.cieData = Out().U8(0x00).U32(personality).U8(0x00).U8(0x00).b;
        t.fdeData = Out().U32(lsda).b;
        t.cie = kEntry;
        size_t fdeAt = 0;
        const Bytes table = Assemble(t, &fdeAt);
        g_fde = table.data() + fdeAt;
        DWORD stack[kWords] = { kWord };
        CONTEXT context = {};
        context.Eip = kBegin + 8;
        context.Esp = reinterpret_cast<DWORD>(stack);
        tk::FrameFacts facts = {};
        ASSERT_TRUE(tk::StepFrame(context, true, &facts));
        EXPECT_EQ(context.Eip, kWord);
        if (personality == gxx) {
            EXPECT_EQ(facts.lsda, kLsda);
            EXPECT_EQ(facts.regionStart, kBegin);
        } else {
            EXPECT_EQ(facts.lsda, nullptr) << "another personality's table means nothing to the walk";
        }
    }
}

TEST(FramesDwarfCfi, ReadsNothingOffTheThreadsStackAndStepsNoUnknownFrame)
{
    const tk::UsingPlatform<tk::FrameLookupPlatform> lookup(tk::FrameLookupSeam(), kLookup);
    Table t;
    t.cie = kEntry;
    size_t fdeAt = 0;
    const Bytes table = Assemble(t, &fdeAt);
    g_fde = table.data() + fdeAt;
    static DWORD notStack[4] = { kWord };
    CONTEXT context = {};
    context.Eip = kBegin;
    context.Esp = reinterpret_cast<DWORD>(notStack);
    tk::FrameFacts facts = {};
    EXPECT_FALSE(tk::StepFrame(context, true, &facts)) << "a return address that is not on this thread's stack";

    DWORD stack[kWords] = { kWord };
    context.Esp = reinterpret_cast<DWORD>(stack);
    context.Eip = kBegin + kRange;
    EXPECT_FALSE(tk::StepFrame(context, true, &facts)) << "code that no table covers";
}

/* A module's .eh_frame as the index reads it: the records in order, each
 * a CIE ("zR", addresses absolute) or an FDE of the CIE at cie (a record's
 * number), with its function's start and length. */
struct Record {
    bool isCie;
    DWORD begin;
    DWORD range;
    int cie;
};

Bytes EhFrame(const std::vector<Record>& records)
{
    Out out;
    std::vector<size_t> at;
    for (const Record& r : records) {
        at.push_back(out.b.size());
        Out body;
        if (r.isCie)
            body.U32(0).U8(1).Text("zR").Uleb(1).Sleb(-4).U8(kEip).Uleb(1).U8(0x00).Add(kEntry);
        else
            body.U32(out.b.size() + 4 - at[r.cie]).U32(r.begin).U32(r.range).Uleb(0);
        PutEntry(out, body.b);
    }
    return out.U32(0).b;
}

Record Cie() { return { true, 0, 0, 0 }; }
Record Fde(DWORD begin, DWORD range, int cie = 0) { return { false, begin, range, cie }; }

struct IndexRow {
    const char* what;
    Bytes table;
    int count;                   /* -1: not call-frame tables */
    std::vector<DWORD_PTR> begins;
};

TEST(FdeIndex, ReadsAModulesEntriesInOrderOfAddressAndRefusesTablesItCannotRead)
{
    const Bytes good = EhFrame({ Cie(), Fde(0x3000, 0x10), Fde(0x1000, 0x20), Fde(0x2000, 0x08) });
    Bytes pastTheEnd = good;
    pastTheEnd.resize(good.size() - 8);   /* the last FDE cut short, and no terminator */
    Bytes longLength = good;
    longLength[0] = longLength[1] = longLength[2] = longLength[3] = 0xFF;
    Bytes unendedLeb = EhFrame({ Cie() });
    unendedLeb.resize(unendedLeb.size() - 4);
    for (size_t i = 13; i < unendedLeb.size(); ++i)
        unendedLeb[i] = 0x80;   /* the alignments and the rest run on */
    Bytes afterTheEnd = good;
    afterTheEnd.insert(afterTheEnd.end(), { 0x08, 0, 0, 0, 0x55, 0x55, 0x55, 0x55 });
    Out ownCieFirst;
    ownCieFirst.U32(12).U32(4).U32(0x1000).U32(0x10);
    const std::vector<IndexRow> rows = {
        { "entries sorted by address", good, 3, { 0x1000, 0x2000, 0x3000 } },
        { "an entry of discarded code left out", EhFrame({ Cie(), Fde(0, 0x10), Fde(0x1000, 0x10) }), 1, { 0x1000 } },
        { "an entry of no length left out", EhFrame({ Cie(), Fde(0x1000, 0) }), 0, {} },
        { "two CIEs", EhFrame({ Cie(), Fde(0x1000, 0x10), Cie(), Fde(0x2000, 0x10, 2) }), 2, { 0x1000, 0x2000 } },
        { "nothing read past the terminator", afterTheEnd, 3, { 0x1000, 0x2000, 0x3000 } },
        { "a record that runs past the table", pastTheEnd, -1, {} },
        { "a 64-bit DWARF length", longLength, -1, {} },
        { "a number that runs past its CIE", unendedLeb, -1, {} },
        { "an FDE before any CIE", ownCieFirst.b, -1, {} },
        { "an FDE whose CIE is an FDE", EhFrame({ Cie(), Fde(0x1000, 0x10), Fde(0x2000, 0x10, 1) }), -1, {} },
    };
    for (const IndexRow& row : rows) {
        DWORD_PTR begins[8] = {};
        const int count = tk::ReadFrameEntries(row.table.data(), row.table.size(), begins, 8);
        ASSERT_EQ(count, row.count) << row.what;
        for (int i = 0; i < count; ++i)
            EXPECT_EQ(begins[i], row.begins[i]) << row.what << ", entry " << i;
    }
}

}  // namespace
