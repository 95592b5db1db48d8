/* dwarf_unit.cpp -- units of .debug_info and their entries. */
#include "debuginfo/dwarf_unit.h"

namespace tk {

namespace {

enum Attribute : uint64_t {
    kName = 0x03, kStatementList = 0x10, kLowPc = 0x11, kHighPc = 0x12, kCompilationDirectory = 0x1b,
    kAbstractOrigin = 0x31, kDeclarationLink = 0x47, kRanges = 0x55, kCallFile = 0x58, kCallLine = 0x59,
    kLinkageName = 0x6e, kStrOffsetsBase = 0x72, kAddrBase = 0x73, kRnglistsBase = 0x74,
    kMipsLinkageName = 0x2007,
};
const uint64_t kImplicitConst = 0x21;

enum UnitType : unsigned { kCompile = 1, kPartial = 3, kSkeleton = 4, kSplitCompile = 5 };

FormValue* Slot(Entry* entry, uint64_t name)
{
    switch (name) {
    case kName: return &entry->name;
    case kLinkageName: case kMipsLinkageName: return &entry->linkageName;
    case kLowPc: return &entry->lowPc;
    case kHighPc: return &entry->highPc;
    case kRanges: return &entry->ranges;
    case kAbstractOrigin: return &entry->abstractOrigin;
    case kDeclarationLink: return &entry->declarationLink;
    case kCallFile: return &entry->callFile;
    case kCallLine: return &entry->callLine;
    case kStatementList: return &entry->stmtList;
    case kCompilationDirectory: return &entry->compDir;
    case kAddrBase: return &entry->addrBase;
    case kStrOffsetsBase: return &entry->strOffsetsBase;
    case kRnglistsBase: return &entry->rnglistsBase;
    default: return nullptr;
    }
}

/* A base of version 5 that the unit does not name lies past the header of
 * the section's first contribution: its length, then header more bytes. */
uint64_t DefaultBase(const UnitHeader& unit, unsigned header)
{
    return unit.form.version >= 5 ? (unit.form.wide ? 12 : 4) + header : 0;
}

/* The offset-sized number at index of the table at base in section. */
bool Indexed(ByteRange section, uint64_t base, uint64_t index, unsigned size, uint64_t* value)
{
    if (base > section.size || index > (section.size - base) / size)
        return false;
    ByteReader reader(section, base + index * size);
    *value = reader.Unsigned(size);
    return !reader.Failed();
}

uint64_t Number(const FormValue& value, uint64_t fallback)
{
    return value.kind == FormValue::kSectionOffset || value.kind == FormValue::kConstant ? value.value : fallback;
}

}  // namespace

bool ReadUnitHeader(ByteRange info, uint64_t offset, UnitHeader* unit, uint64_t* next)
{
    *unit = UnitHeader();
    bool wide = false;
    ByteReader body = ByteReader::Unit(info, offset, &wide, next);
    if (body.Failed())
        return false;
    unit->offset = offset;
    unit->end = *next;
    unit->form.wide = wide;
    unit->form.version = body.U16();
    unit->type = kCompile;
    if (unit->form.version >= 5) {
        unit->type = body.U8();
        unit->form.addressSize = body.U8();
        unit->abbrevOffset = body.Offset(wide);
        if (unit->type == kSkeleton || unit->type == kSplitCompile)
            body.U64();   /* the split unit's id */
        else if (unit->type != kCompile && unit->type != kPartial)
            return false;
    } else {
        unit->abbrevOffset = body.Offset(wide);
        unit->form.addressSize = body.U8();
    }
    unit->entries = static_cast<uint64_t>(body.Position() - info.data);
    return !body.Failed() && unit->form.version >= 2 && unit->form.version <= 5 &&
        (unit->form.addressSize == 4 || unit->form.addressSize == 8);
}

bool ReadEntry(ByteReader& reader, const UnitHeader& unit, const AbbreviationIndex& abbrevs, int table,
               const DebugSections& sections, TagFilter wanted, Entry* entry)
{
    entry->offset = static_cast<uint64_t>(reader.Position() - sections.info.data);
    entry->tag = 0;
    entry->children = false;
    const uint64_t code = reader.Uleb();
    if (reader.Failed())
        return false;
    if (code == 0)
        return true;
    const AbbreviationIndex::Declaration* declaration = abbrevs.Find(table, code);
    if (!declaration) {
        reader.Fail();
        return false;
    }
    entry->tag = declaration->tag;
    entry->children = declaration->children != 0;
    const bool values = wanted(entry->tag);
    if (values) {
        const FormValue absent = { FormValue::kAbsent, 0, nullptr };
        entry->name = entry->linkageName = entry->lowPc = entry->highPc = entry->ranges = absent;
        entry->abstractOrigin = entry->declarationLink = entry->callFile = entry->callLine = absent;
        entry->stmtList = entry->compDir = entry->addrBase = entry->strOffsetsBase = entry->rnglistsBase = absent;
    }
    ByteReader specs(sections.abbrev, declaration->specs);
    for (unsigned i = 0; i < declaration->attributes; ++i) {
        const uint64_t name = specs.Uleb();
        const uint64_t form = specs.Uleb();
        const int64_t constant = form == kImplicitConst ? specs.Sleb() : 0;
        FormValue* slot = values ? Slot(entry, name) : nullptr;
        const bool read = slot ? ReadFormValue(reader, form, constant, unit.form, sections, slot)
                               : form == kImplicitConst || SkipForm(reader, form, unit.form);
        if (!read || specs.Failed()) {
            reader.Fail();
            return false;
        }
    }
    return true;
}

bool ReadUnitFacts(const UnitHeader& unit, const AbbreviationIndex& abbrevs, int table,
                   const DebugSections& sections, UnitFacts* facts, Entry* entry)
{
    Entry own;
    Entry* first = entry ? entry : &own;
    ByteReader reader(ByteRange{ sections.info.data, static_cast<size_t>(unit.end) }, unit.entries);
    if (!ReadEntry(reader, unit, abbrevs, table, sections, EveryTag, first) || first->tag == 0)
        return false;
    facts->lowPc = 0;
    facts->addrBase = Number(first->addrBase, DefaultBase(unit, 4));
    facts->strOffsetsBase = Number(first->strOffsetsBase, DefaultBase(unit, 4));
    facts->rnglistsBase = Number(first->rnglistsBase, DefaultBase(unit, 8));
    facts->hasLines = first->stmtList.kind == FormValue::kSectionOffset || first->stmtList.kind == FormValue::kConstant;
    facts->lineOffset = first->stmtList.value;
    facts->compDir = first->compDir;
    uint64_t low = 0;
    if (EntryAddress(first->lowPc, unit, *facts, sections, &low))
        facts->lowPc = low;
    return true;
}

const char* EntryText(const FormValue& value, const UnitHeader& unit, const UnitFacts& facts,
                      const DebugSections& sections)
{
    if (value.kind == FormValue::kText)
        return value.text;
    if (value.kind != FormValue::kTextIndex)
        return nullptr;
    const unsigned size = unit.form.wide ? 8 : 4;
    uint64_t offset = 0;
    return Indexed(sections.strOffsets, facts.strOffsetsBase, value.value, size, &offset)
        ? SectionText(sections.str, offset)
        : nullptr;
}

bool EntryAddress(const FormValue& value, const UnitHeader& unit, const UnitFacts& facts,
                  const DebugSections& sections, uint64_t* address)
{
    if (value.kind == FormValue::kAddress) {
        *address = value.value;
        return true;
    }
    return value.kind == FormValue::kAddressIndex &&
        Indexed(sections.addr, facts.addrBase, value.value, unit.form.addressSize, address);
}

bool EntryReference(const FormValue& value, const UnitHeader& unit, uint64_t* offset)
{
    if (value.kind == FormValue::kInfoReference) {
        *offset = value.value;
        return true;
    }
    if (value.kind != FormValue::kUnitReference || value.value >= unit.end - unit.offset)
        return false;
    *offset = unit.offset + value.value;
    return true;
}

bool PrepareAbbreviations(ByteRange info, AbbreviationIndex& abbrevs, AbbreviationIndex::Reallocate reallocate,
                          AbbreviationIndex::Release release)
{
    GrowableArray<uint64_t> offsets;
    bool grown = true;
    for (uint64_t offset = 0; offset < info.size && grown;) {
        UnitHeader unit;
        uint64_t next = 0;
        if (ReadUnitHeader(info, offset, &unit, &next)) {
            uint64_t* slot = offsets.Append(reallocate);
            grown = slot != nullptr;
            if (slot)
                *slot = unit.abbrevOffset;
        }
        offset = next;
    }
    const bool prepared = grown && abbrevs.Prepare(offsets.items, offsets.count, reallocate, release);
    offsets.Clear(release);
    return prepared;
}

bool ForEachCompilationUnit(const DebugSections& sections, AbbreviationIndex& abbrevs,
                            AbbreviationIndex::Reallocate reallocate, AbbreviationIndex::Release release,
                            CompilationUnitVisitor visit, void* context)
{
    if (!PrepareAbbreviations(sections.info, abbrevs, reallocate, release))
        return false;
    for (uint64_t offset = 0; offset < sections.info.size;) {
        UnitHeader unit;
        uint64_t next = 0;
        const bool read = ReadUnitHeader(sections.info, offset, &unit, &next);
        offset = next;
        if (!read)
            continue;
        UnitFacts facts;
        const int table = abbrevs.Table(sections.abbrev, unit.abbrevOffset, reallocate);
        if (table < 0 || !ReadUnitFacts(unit, abbrevs, table, sections, &facts, nullptr) || !facts.hasLines)
            continue;
        if (!visit(context, facts.lineOffset, EntryText(facts.compDir, unit, facts, sections)))
            break;
    }
    return true;
}

}  // namespace tk
