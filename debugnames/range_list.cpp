/* range_list.cpp -- an entry's address ranges. */
#include "debugnames/range_list.h"

namespace tk {

namespace {

enum RangeEntry : unsigned {
    kEndOfList, kBaseAddressx, kStartxEndx, kStartxLength, kOffsetPair, kBaseAddress, kStartEnd, kStartLength
};

/* Versions 2 to 4: pairs of addresses from the base, which a pair whose
 * first address is all ones replaces, ended by a pair of zeros. */
bool OldList(uint64_t offset, const UnitHeader& unit, const UnitFacts& facts, const DebugSections& sections,
             RangeVisitor visit, void* context)
{
    const unsigned size = unit.form.addressSize;
    const uint64_t all = size == 8 ? ~uint64_t(0) : 0xFFFFFFFFu;
    uint64_t base = facts.lowPc;
    if (offset >= sections.ranges.size)
        return false;
    ByteReader reader(sections.ranges, offset);
    for (unsigned n = 0; n < kMostRanges; ++n) {
        const uint64_t begin = reader.Unsigned(size);
        const uint64_t end = reader.Unsigned(size);
        if (reader.Failed())
            return false;
        if (begin == 0 && end == 0)
            return true;
        if (begin == all) {
            base = end;
        } else if (end > begin) {
            if (base + end < base)
                return false;
            visit(context, base + begin, base + end);
        }
    }
    return false;
}

bool Indexed(uint64_t index, const UnitHeader& unit, const UnitFacts& facts, const DebugSections& sections,
             uint64_t* address)
{
    return EntryAddress(FormValue{ FormValue::kAddressIndex, index, nullptr }, unit, facts, sections, address);
}

/* Version 5: entries of their own kinds. */
bool NewList(uint64_t offset, const UnitHeader& unit, const UnitFacts& facts, const DebugSections& sections,
             RangeVisitor visit, void* context)
{
    const unsigned size = unit.form.addressSize;
    uint64_t base = facts.lowPc;
    if (offset >= sections.rnglists.size)
        return false;
    ByteReader reader(sections.rnglists, offset);
    for (unsigned n = 0; n < kMostRanges; ++n) {
        uint64_t begin = 0, end = 0;
        bool sound = true, range = true;
        switch (reader.U8()) {
        case kEndOfList:
            return !reader.Failed();
        case kBaseAddressx:
            sound = Indexed(reader.Uleb(), unit, facts, sections, &base);
            range = false;
            break;
        case kStartxEndx:
            sound = Indexed(reader.Uleb(), unit, facts, sections, &begin) &&
                Indexed(reader.Uleb(), unit, facts, sections, &end);
            break;
        case kStartxLength:
            sound = Indexed(reader.Uleb(), unit, facts, sections, &begin);
            end = begin + reader.Uleb();
            break;
        case kOffsetPair:
            begin = base + reader.Uleb();
            end = base + reader.Uleb();
            break;
        case kBaseAddress:
            base = reader.Unsigned(size);
            range = false;
            break;
        case kStartEnd:
            begin = reader.Unsigned(size);
            end = reader.Unsigned(size);
            break;
        case kStartLength:
            begin = reader.Unsigned(size);
            end = begin + reader.Uleb();
            break;
        default:
            return false;
        }
        if (!sound || reader.Failed() || (range && end < begin))
            return false;
        if (range && end > begin)
            visit(context, begin, end);
    }
    return false;
}

}  // namespace

bool ForEachRange(const Entry& entry, const UnitHeader& unit, const UnitFacts& facts, const DebugSections& sections,
                  RangeVisitor visit, void* context)
{
    uint64_t low = 0;
    if (EntryAddress(entry.lowPc, unit, facts, sections, &low) && entry.highPc.kind != FormValue::kAbsent) {
        uint64_t high = 0;
        if (entry.highPc.kind == FormValue::kConstant)
            high = low + entry.highPc.value;
        else if (!EntryAddress(entry.highPc, unit, facts, sections, &high))
            return false;
        if (high < low)
            return false;
        if (high > low)
            visit(context, low, high);
        return true;
    }
    const FormValue& ranges = entry.ranges;
    if (unit.form.version < 5)
        return (ranges.kind == FormValue::kSectionOffset || ranges.kind == FormValue::kConstant) &&
            OldList(ranges.value, unit, facts, sections, visit, context);
    if (ranges.kind == FormValue::kSectionOffset)
        return NewList(ranges.value, unit, facts, sections, visit, context);
    if (ranges.kind != FormValue::kListIndex)
        return false;
    /* An index into the offsets that follow the list table's header, each
     * relative to where they begin. */
    const unsigned size = unit.form.wide ? 8 : 4;
    const uint64_t base = facts.rnglistsBase;
    if (base > sections.rnglists.size || ranges.value > (sections.rnglists.size - base) / size)
        return false;
    ByteReader table(sections.rnglists, base + ranges.value * size);
    const uint64_t relative = table.Unsigned(size);
    return !table.Failed() && relative <= UINT64_MAX - base &&
        NewList(base + relative, unit, facts, sections, visit, context);
}

}  // namespace tk
