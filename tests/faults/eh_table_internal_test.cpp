/* The exception-table reader, bytes in and answer out: LEB128 numbers, every
 * pointer encoding it reads, and the verdict on a CRunTimeException* thrown
 * at an address of a hand-made call-site table. */
#include <gtest/gtest.h>

#include <stdint.h>

#include <typeinfo>
#include <vector>

#include "tools/runtime.h"
#include "faults/eh_table.h"
#include "support/byte_writer.h"

namespace {

using tktest::Bytes;
using tktest::Out;

struct LebRow {
    Bytes bytes;
    DWORD_PTR unsignedValue;
    LONG_PTR signedValue;
};

TEST(EhTable, ReadsLeb128NumbersAndStepsPastThem)
{
    const LebRow rows[] = {
        { { 0x00 }, 0, 0 },
        { { 0x3F }, 63, 63 },
        { { 0x40 }, 64, -64 },                        /* the sign bit of the last byte */
        { { 0x7F }, 127, -1 },
        { { 0x80, 0x01 }, 128, 128 },
        { { 0x80, 0x7F }, 0x3F80, -128 },
        { { 0xE5, 0x8E, 0x26 }, 624485, 624485 },
        { { 0xC0, 0xBB, 0x78 }, 0x1E1DC0, -123456 },
        /* Padded with continuation bytes: the same value. */
        { { 0x81, 0x80, 0x80, 0x00 }, 1, 1 },
    };
    for (const LebRow& row : rows) {
        const unsigned char* p = row.bytes.data();
        EXPECT_EQ(tk::ReadUleb(&p), row.unsignedValue);
        EXPECT_EQ(p, row.bytes.data() + row.bytes.size());
        p = row.bytes.data();
        EXPECT_EQ(tk::ReadSleb(&p), row.signedValue);
        EXPECT_EQ(p, row.bytes.data() + row.bytes.size());
    }
    /* Bits beyond a pointer's width are dropped, not shifted in at the
     * processor's shift count modulo the width, and the reader still steps
     * past every byte. */
    Bytes beyond(10, 0x80);
    beyond.push_back(0x41);
    const unsigned char* p = beyond.data();
    EXPECT_EQ(tk::ReadUleb(&p), 0u);
    EXPECT_EQ(p, beyond.data() + beyond.size());
    p = beyond.data();
    EXPECT_EQ(tk::ReadSleb(&p), 0) << "no sign to extend into once every bit is taken";
    EXPECT_EQ(p, beyond.data() + beyond.size());
}

struct EncodedRow {
    unsigned char encoding;
    Bytes bytes;
    DWORD_PTR value;    /* before the pc-relative base is added */
};

TEST(EhTable, ReadsEveryPointerEncodingOfExceptionTables)
{
    const EncodedRow rows[] = {
        { 0x01, { 0xE5, 0x8E, 0x26 }, 624485 },                                      /* uleb128 */
        { 0x09, { 0x7F }, static_cast<DWORD_PTR>(-1) },                               /* sleb128 */
        { 0x02, { 0xFE, 0xFF }, 0xFFFE },                                              /* udata2 */
        { 0x0A, { 0xFE, 0xFF }, static_cast<DWORD_PTR>(-2) },                          /* sdata2 */
        { 0x03, { 0x78, 0x56, 0x34, 0x92 }, 0x92345678 },                              /* udata4 */
        { 0x0B, { 0xFC, 0xFF, 0xFF, 0xFF }, static_cast<DWORD_PTR>(-4) },              /* sdata4 */
        { 0x04, { 1, 2, 3, 4, 0, 0, 0, 0 }, 0x04030201 },                              /* udata8 */
        { 0x0C, { 0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF }, static_cast<DWORD_PTR>(-8) },  /* sdata8 */
    };
    for (const EncodedRow& row : rows) {
        for (unsigned char application : { 0x00, 0x10 }) {
            Bytes bytes = row.bytes;
            bytes.push_back(0xAA);   /* must not be read */
            const unsigned char* p = bytes.data();
            DWORD_PTR value = 0;
            ASSERT_TRUE(tk::ReadEncoded(&p, row.encoding | application, &value)) << int(row.encoding);
            const DWORD_PTR base = application ? reinterpret_cast<DWORD_PTR>(bytes.data()) : 0;
            EXPECT_EQ(value, row.value + base) << "encoding " << int(row.encoding | application);
            EXPECT_EQ(p, bytes.data() + row.bytes.size()) << "encoding " << int(row.encoding);
        }
    }

    /* absptr: a whole pointer, whatever the target's width. */
    const DWORD_PTR pointer = static_cast<DWORD_PTR>(0x12345678);
    Bytes bytes(sizeof pointer);
    memcpy(bytes.data(), &pointer, sizeof pointer);
    const unsigned char* p = bytes.data();
    DWORD_PTR value = 0;
    ASSERT_TRUE(tk::ReadEncoded(&p, 0x00, &value));
    EXPECT_EQ(value, pointer);
    EXPECT_EQ(p, bytes.data() + sizeof pointer);

    /* Indirect: the value is the address of the pointer; a null one stays
     * null rather than being read through. */
    const DWORD_PTR target = 0x5A5A;
    const DWORD_PTR slot = reinterpret_cast<DWORD_PTR>(&target);
    memcpy(bytes.data(), &slot, sizeof slot);
    p = bytes.data();
    ASSERT_TRUE(tk::ReadEncoded(&p, 0x80, &value));
    EXPECT_EQ(value, target);
    const Bytes zero(sizeof(DWORD_PTR), 0);
    p = zero.data();
    ASSERT_TRUE(tk::ReadEncoded(&p, 0x80, &value));
    EXPECT_EQ(value, 0u);

    /* Text-, data- and function-relative and aligned values need bases the
     * reader does not have: refused, not misread. */
    for (unsigned char application : { 0x20, 0x30, 0x40, 0x50 }) {
        p = zero.data();
        EXPECT_FALSE(tk::ReadEncoded(&p, 0x03 | application, &value)) << int(application);
    }
    p = zero.data();
    EXPECT_FALSE(tk::ReadEncoded(&p, 0x05, &value)) << "no format 5";
}

/* One call site of a hand-made table: its place in the function, and what
 * the personality routine would find there. */
struct Site {
    DWORD_PTR start, length, landing;
    /* The action chain's type filters in order: > 0 a catch clause (an
     * index into kTypes, from 1), < 0 the list of a throw(...) clause. Empty:
     * action 0, cleanups only. */
    std::vector<int> filters;
};

/* The catch clauses the tables name, by filter number. A null entry is
 * catch (...). */
const std::type_info* const kTypes[] = {
    nullptr,   /* filter 0 is never a catch clause */
    &typeid(int*),
    &typeid(CRunTimeException*),
    &typeid(CException*),
    &typeid(const CException*),
    &typeid(void*),
    nullptr,
    &typeid(CMemoryException*),
};
const int kInt = 1, kRunTime = 2, kException = 3, kConstException = 4, kVoid = 5, kAll = 6, kMemory = 7;

/* The language-specific data of one function as GCC lays it out: a header,
 * the call-site table, the action records and the type table that the
 * header's offset reaches the end of. */
class Lsda {
public:
    Lsda(const std::vector<Site>& sites, unsigned char siteEncoding, unsigned char typeEncoding)
    {
        /* The action table: one chain per site, each record a filter and the
         * distance from its own second number to the next record. */
        Out actions;
        std::vector<DWORD_PTR> firstAction;
        for (const Site& site : sites) {
            if (site.filters.empty()) {
                firstAction.push_back(0);
                continue;
            }
            firstAction.push_back(actions.b.size() + 1);
            /* The next record follows this one's one-byte displacement. */
            for (size_t i = 0; i < site.filters.size(); ++i)
                actions.Sleb(site.filters[i]).Sleb(i + 1 < site.filters.size() ? 1 : 0);
        }
        Out table;
        for (size_t i = 0; i < sites.size(); ++i) {
            for (DWORD_PTR v : { sites[i].start, sites[i].length, sites[i].landing })
                siteEncoding == 0x01 ? table.Uleb(v) : table.U32(v);
            table.Uleb(firstAction[i]);
        }
        /* The type table, indexed back from its end; with the indirect
         * pc-relative encoding each entry reaches a slot holding the
         * address. */
        const size_t count = sizeof kTypes / sizeof kTypes[0];
        const size_t entry = typeEncoding == 0x00 ? sizeof(void*) : 4;
        const Bytes types((count - 1) * entry);

        Out callSites;
        callSites.U8(siteEncoding).Uleb(table.b.size()).Add(table.b);
        /* The type table's end, counted from just after this offset; a
         * one-byte offset keeps the arithmetic plain. */
        const size_t toEnd = callSites.b.size() + actions.b.size() + types.size();
        EXPECT_LT(toEnd, 128u);
        /* Landing pads count from the function's start. */
        Out header;
        header.U8(0xFF).U8(typeEncoding).Uleb(toEnd).Add(callSites.b).Add(actions.b);
        bytes_ = header.b;
        const size_t typesAt = bytes_.size();
        bytes_.insert(bytes_.end(), types.begin(), types.end());
        /* Entry for filter n lies n entries before the end; catch (...)
         * names no type, and GCC writes a plain 0 for it in any encoding. */
        for (size_t n = 1; n < count; ++n) {
            unsigned char* at = bytes_.data() + typesAt + types.size() - n * entry;
            const DWORD_PTR address = reinterpret_cast<DWORD_PTR>(kTypes[n]);
            if (!address) {
                memset(at, 0, entry);
            } else if (typeEncoding == 0x00) {
                memcpy(at, &address, sizeof address);
            } else {
                slots_[n] = address;
                const int32_t relative = static_cast<int32_t>(reinterpret_cast<intptr_t>(&slots_[n]) -
                                                              reinterpret_cast<intptr_t>(at));
                memcpy(at, &relative, sizeof relative);
            }
        }
    }

    const unsigned char* Data() const { return bytes_.data(); }

private:
    Bytes bytes_;
    DWORD_PTR slots_[sizeof kTypes / sizeof kTypes[0]] = {};
};

struct VerdictRow {
    const char* what;
    std::vector<Site> sites;
    DWORD_PTR at;   /* offset from the function's start */
    tk::FrameVerdict verdict;
};

TEST(EhTable, JudgesAThrowAsTheCxxPersonalityRoutineWould)
{
    using tk::FrameVerdict;
    const VerdictRow rows[] = {
        { "a catch of the class itself", { { 0x10, 0x20, 0x40, { kRunTime } } }, 0x18, FrameVerdict::kCatches },
        { "a catch of its base", { { 0x10, 0x20, 0x40, { kException } } }, 0x10, FrameVerdict::kCatches },
        { "a catch of its const base", { { 0x10, 0x20, 0x40, { kConstException } } }, 0x2F, FrameVerdict::kCatches },
        { "a catch of void*", { { 0x10, 0x20, 0x40, { kVoid } } }, 0x10, FrameVerdict::kCatches },
        { "catch (...)", { { 0x10, 0x20, 0x40, { kAll } } }, 0x10, FrameVerdict::kCatches },
        { "a catch of another pointer", { { 0x10, 0x20, 0x40, { kInt } } }, 0x10, FrameVerdict::kPasses },
        { "a catch of a sibling class", { { 0x10, 0x20, 0x40, { kMemory } } }, 0x10, FrameVerdict::kPasses },
        { "the second clause of a chain", { { 0x10, 0x20, 0x40, { kInt, kMemory, kException } } }, 0x10,
          FrameVerdict::kCatches },
        { "a chain that takes nothing", { { 0x10, 0x20, 0x40, { kInt, kMemory } } }, 0x10, FrameVerdict::kPasses },
        { "a throw(...) clause's list", { { 0x10, 0x20, 0x40, { -1 } } }, 0x10, FrameVerdict::kTerminates },
        { "cleanups only", { { 0x10, 0x20, 0x40, {} } }, 0x10, FrameVerdict::kPasses },
        { "no landing pad", { { 0x10, 0x20, 0, { kRunTime } } }, 0x10, FrameVerdict::kPasses },
        { "an address before every site", { { 0x10, 0x20, 0x40, { kRunTime } } }, 0x0F, FrameVerdict::kTerminates },
        { "the first address past a site", { { 0x10, 0x20, 0x40, { kRunTime } } }, 0x30, FrameVerdict::kTerminates },
        { "a gap between two sites",
          { { 0x00, 0x08, 0x40, { kRunTime } }, { 0x10, 0x08, 0x40, { kRunTime } } }, 0x0C,
          FrameVerdict::kTerminates },
        { "the later of two sites",
          { { 0x00, 0x08, 0x40, { kInt } }, { 0x08, 0x08, 0x50, { kRunTime } } }, 0x0C, FrameVerdict::kCatches },
        { "the earlier of two sites",
          { { 0x00, 0x08, 0x40, { kInt } }, { 0x08, 0x08, 0x50, { kRunTime } } }, 0x07, FrameVerdict::kPasses },
        { "no sites at all", {}, 0x00, FrameVerdict::kTerminates },
        { "a site past 127 bytes", { { 0x300, 0x200, 0x900, { kException } } }, 0x4FF, FrameVerdict::kCatches },
    };
    const DWORD_PTR functionStart = 0x401000;
    for (unsigned char siteEncoding : { 0x01, 0x03 }) {
        for (unsigned char typeEncoding : { 0x00, 0x9B }) {
            for (const VerdictRow& row : rows) {
                const Lsda lsda(row.sites, siteEncoding, typeEncoding);
                EXPECT_EQ(tk::JudgeFrame(lsda.Data(), functionStart, functionStart + row.at), row.verdict)
                    << row.what << ", call sites in encoding " << int(siteEncoding) << ", types in "
                    << int(typeEncoding);
            }
        }
    }
}

TEST(EhTable, TakesAFrameAsPassingWhereItCannotReadTheTable)
{
    /* Call sites in a data-relative encoding: the frame is left to the
     * unwinder as any frame without a catch, never taken for a catch. */
    const Bytes lsda = { 0xFF, 0xFF, 0x33, 0x04, 0x10, 0x00, 0x00, 0x00 };
    EXPECT_EQ(tk::JudgeFrame(lsda.data(), 0x1000, 0x1010), tk::FrameVerdict::kPasses);
}

}  // namespace
