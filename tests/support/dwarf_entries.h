/* dwarf_entries.h -- writes the .debug_info units and .debug_abbrev tables
 * that the name readers' tests feed them: declarations by code, entries as
 * a code and the bytes of their values, and units that work out their
 * lengths. */
#ifndef TOOLS_TESTS_SUPPORT_DWARF_ENTRIES_H
#define TOOLS_TESTS_SUPPORT_DWARF_ENTRIES_H

#include <stdint.h>

#include <utility>
#include <vector>

#include "support/byte_writer.h"

namespace tktest {

/* Tags, attributes and forms the tests use. */
enum : uint64_t {
    kTagCompileUnit = 0x11, kTagNamespace = 0x39, kTagStructure = 0x13, kTagSubprogram = 0x2e,
    kTagInlined = 0x1d, kTagVariable = 0x34,
    kAtName = 0x03, kAtStmtList = 0x10, kAtLowPc = 0x11, kAtHighPc = 0x12, kAtAbstractOrigin = 0x31,
    kAtDeclaration = 0x3c, kAtDeclarationLink = 0x47, kAtRanges = 0x55, kAtCallFile = 0x58, kAtCallLine = 0x59,
    kAtLinkageName = 0x6e, kAtStrOffsetsBase = 0x72, kAtAddrBase = 0x73, kAtRnglistsBase = 0x74,
    kFormAddr = 0x01, kFormData1 = 0x0b, kFormData2 = 0x05, kFormData4 = 0x06, kFormString = 0x08,
    kFormStrp = 0x0e, kFormUdata = 0x0f, kFormRefAddr = 0x10, kFormRef4 = 0x13, kFormRefUdata = 0x15,
    kFormSecOffset = 0x17, kFormFlagPresent = 0x19, kFormStrx1 = 0x25, kFormAddrx1 = 0x29, kFormRnglistx = 0x23,
};

typedef std::vector<std::pair<uint64_t, uint64_t>> Specs;

/* One abbreviation table; End() writes its terminating code. */
struct Abbreviations : Out {
    Abbreviations& Declare(uint64_t code, uint64_t tag, bool children, const Specs& specs)
    {
        Uleb(code).Uleb(tag).U8(children ? 1 : 0);
        for (const auto& spec : specs)
            Uleb(spec.first).Uleb(spec.second);
        Uleb(0).Uleb(0);
        return *this;
    }
    Abbreviations& End()
    {
        U8(0);
        return *this;
    }
};

/* A unit's header and entries: version 5 with its unit type, or 2 to 4. */
struct InfoUnit {
    unsigned version = 5;
    unsigned addressSize = 8;
    uint32_t abbrevOffset = 0;
    Out entries;

    /* Where an entry written next begins, from the unit's start, for
     * references to it. */
    uint64_t Here() const { return (version >= 5 ? 12 : 11) + entries.b.size(); }
    InfoUnit& Entry(uint64_t code, const Bytes& values = {})
    {
        entries.Uleb(code).Add(values);
        return *this;
    }
    InfoUnit& Null() { return Entry(0); }

    Bytes Encode() const
    {
        Out body;
        body.U16(version);
        if (version >= 5)
            body.U8(1).U8(addressSize).U32(abbrevOffset);
        else
            body.U32(abbrevOffset).U8(addressSize);
        body.Add(entries.b);
        Out unit;
        unit.U32(body.b.size()).Add(body.b);
        return unit.b;
    }
};

}  // namespace tktest

#endif
