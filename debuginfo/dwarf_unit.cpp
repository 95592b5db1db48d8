/* dwarf_unit.cpp -- the line tables and directories of compilation units. */
#include "debuginfo/dwarf_unit.h"

namespace tk {

namespace {

const uint64_t kStatementList = 0x10;
const uint64_t kCompilationDirectory = 0x1b;
const uint64_t kImplicitConst = 0x21;

enum UnitType : unsigned { kCompile = 1, kPartial = 3, kSkeleton = 4, kSplitCompile = 5 };

/* The attribute forms of abbreviation code in the table at
 * offset; an empty reader when the table has no such code. */
ByteReader Abbreviation(ByteRange abbrev, uint64_t offset, uint64_t code)
{
    ByteReader reader(abbrev, offset);
    while (!reader.Failed()) {
        const uint64_t entry = reader.Uleb();
        if (entry == 0)
            break;
        reader.Uleb();   /* tag */
        reader.U8();     /* children */
        const unsigned char* specs = reader.Position();
        for (;;) {
            const uint64_t name = reader.Uleb();
            const uint64_t form = reader.Uleb();
            if (form == kImplicitConst)
                reader.Sleb();
            if (reader.Failed() || (name == 0 && form == 0))
                break;
        }
        if (entry == code && !reader.Failed())
            return ByteReader(ByteRange{ specs, static_cast<size_t>(reader.Position() - specs) });
    }
    return ByteReader();
}

/* Reads the first entry of a unit: its line-table offset and directory.
 * False when the entry cannot be read or has no line table. */
bool FirstEntry(const DebugSections& sections, ByteReader& entry, ByteReader specs, const FormContext& context,
                uint64_t* lineOffset, const char** directory)
{
    bool hasLines = false;
    for (;;) {
        const uint64_t name = specs.Uleb();
        const uint64_t form = specs.Uleb();
        if (form == kImplicitConst)
            specs.Sleb();
        if (specs.Failed())
            return false;
        if (name == 0 && form == 0)
            return hasLines;
        if (name == kStatementList)
            hasLines = ReadFormNumber(entry, form, context, lineOffset);
        else if (name == kCompilationDirectory)
            *directory = ReadFormText(entry, form, context, sections);
        else
            SkipForm(entry, form, context);
        if (entry.Failed())
            return false;
    }
}

}  // namespace

void ForEachCompilationUnit(const DebugSections& sections, CompilationUnitVisitor visit, void* context)
{
    ByteReader units(sections.info);
    while (!units.Failed() && !units.AtEnd()) {
        FormContext form = { 0, 0, false };
        const uint64_t length = units.UnitLength(&form.wide);
        ByteReader unit = units.Take(length);
        if (units.Failed())
            return;
        form.version = unit.U16();
        uint64_t abbrevOffset = 0;
        if (form.version >= 5) {
            const unsigned type = unit.U8();
            form.addressSize = unit.U8();
            abbrevOffset = unit.Offset(form.wide);
            if (type == kSkeleton || type == kSplitCompile)
                unit.U64();   /* the split unit's id */
            else if (type != kCompile && type != kPartial)
                continue;
        } else {
            abbrevOffset = unit.Offset(form.wide);
            form.addressSize = unit.U8();
        }
        if (unit.Failed() || form.version < 2 || form.version > 5)
            continue;
        const ByteReader specs = Abbreviation(sections.abbrev, abbrevOffset, unit.Uleb());
        uint64_t lineOffset = 0;
        const char* directory = nullptr;
        if (!specs.Failed() && FirstEntry(sections, unit, specs, form, &lineOffset, &directory) &&
            !visit(context, lineOffset, directory))
            return;
    }
}

}  // namespace tk
