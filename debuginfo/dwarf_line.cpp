/* dwarf_line.cpp -- line-table headers, programs and file names. */
#include <string.h>

#include "debuginfo/dwarf_line.h"

namespace tk {

namespace {

/* Content types of version 5 entry formats. */
const uint64_t kPath = 1;
const uint64_t kDirectoryIndex = 2;

enum Standard : unsigned {
    kCopy = 1, kAdvancePc, kAdvanceLine, kSetFile, kSetColumn, kNegateStatement, kSetBasicBlock,
    kConstAddPc, kFixedAdvancePc, kSetPrologueEnd, kSetEpilogueBegin, kSetIsa
};
enum Extended : unsigned { kEndSequence = 1, kSetAddress = 2 };

FormContext LineContext(const LineUnit& unit)
{
    return FormContext{ unit.version, unit.addressSize, unit.wide };
}

/* Reads a version 5 entry table: the format count and its pairs of
 * content type and form, the entry count, and the entries, whose bytes
 * end where the last one ends. An entry that takes no bytes at all makes
 * the table damaged: a count of them could never be worth reading. */
bool ReadEntryTable(ByteReader& header, const FormContext& context, ByteRange* formats, uint64_t* formatCount,
                    ByteRange* entries, uint64_t* count)
{
    *formatCount = header.U8();
    const unsigned char* formatsBegin = header.Position();
    for (uint64_t i = 0; i < *formatCount; ++i) {
        header.Uleb();
        header.Uleb();
    }
    *formats = ByteRange{ formatsBegin, static_cast<size_t>(header.Position() - formatsBegin) };
    *count = header.Uleb();
    if (header.Failed() || *count > kMostFileEntries)
        return false;
    const unsigned char* entriesBegin = header.Position();
    for (uint64_t n = 0; n < *count; ++n) {
        const unsigned char* before = header.Position();
        ByteReader format(*formats);
        for (uint64_t i = 0; i < *formatCount; ++i) {
            format.Uleb();
            if (!SkipForm(header, format.Uleb(), context))
                return false;
        }
        if (header.Position() == before)
            return false;
    }
    *entries = ByteRange{ entriesBegin, static_cast<size_t>(header.Position() - entriesBegin) };
    return true;
}

/* Reads the version 2 to 4 list of texts that ends with an empty one,
 * each text followed by fields unsigned LEB128 numbers. */
bool ReadTextList(ByteReader& header, unsigned fields, ByteRange* list, uint64_t* count)
{
    const unsigned char* begin = header.Position();
    *count = 0;
    for (;;) {
        const char* text = header.Text();
        if (!text)
            return false;
        if (!*text)
            break;
        for (unsigned i = 0; i < fields; ++i)
            header.Uleb();
        if (header.Failed() || ++*count > kMostFileEntries)
            return false;
    }
    *list = ByteRange{ begin, static_cast<size_t>(header.Position() - begin) };
    return true;
}

/* The path and directory index of entry index of a version 5 table. The
 * walk ends: ReadEntryTable let no entry of no bytes through. */
bool ReadEntry(const DebugSections& sections, const LineUnit& unit, ByteRange formats, uint64_t formatCount,
               ByteRange entries, uint64_t index, const char** path, uint64_t* directory)
{
    const FormContext context = LineContext(unit);
    ByteReader reader(entries);
    for (uint64_t n = 0;; ++n) {
        ByteReader format(formats);
        for (uint64_t i = 0; i < formatCount; ++i) {
            const uint64_t type = format.Uleb();
            const uint64_t form = format.Uleb();
            if (n < index)
                SkipForm(reader, form, context);
            else if (type == kPath)
                *path = ReadFormText(reader, form, context, sections);
            else if (type == kDirectoryIndex && !ReadFormNumber(reader, form, context, directory))
                return false;
            else if (type != kDirectoryIndex)
                SkipForm(reader, form, context);
        }
        if (reader.Failed())
            return false;
        if (n == index)
            return true;
    }
}

bool Absolute(const char* path)
{
    return path[0] == '/' || path[0] == '\\' ||
        (((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':');
}

/* Joins the non-empty parts with '/', as addr2line does, where a part
 * does not end in a separator already. */
bool Join(const char* const* parts, size_t count, char* path, size_t size)
{
    size_t used = 0;
    for (size_t i = 0; i < count; ++i) {
        if (!parts[i] || !*parts[i])
            continue;
        if (used && path[used - 1] != '/' && path[used - 1] != '\\') {
            if (used + 1 >= size)
                return false;
            path[used++] = '/';
        }
        const size_t length = strlen(parts[i]);
        if (length >= size - used)
            return false;
        memcpy(path + used, parts[i], length);
        used += length;
    }
    if (!used || size == 0)
        return false;
    path[used] = '\0';
    return true;
}

}  // namespace

bool ReadLineUnit(const DebugSections& sections, uint64_t offset, LineUnit* unit, uint64_t* next)
{
    *unit = LineUnit();
    bool wide = false;
    ByteReader body = ByteReader::Unit(sections.line, offset, &wide, next);
    if (body.Failed())
        return false;

    unit->offset = offset;
    unit->wide = wide;
    unit->version = body.U16();
    if (unit->version < 2 || unit->version > 5)
        return false;
    if (unit->version >= 5) {
        unit->addressSize = body.U8();
        const unsigned segmentSelectorSize = body.U8();
        if (segmentSelectorSize != 0 || (unit->addressSize != 4 && unit->addressSize != 8))
            return false;
    }
    ByteReader header = body.Take(body.Offset(wide));
    if (body.Failed())
        return false;
    unit->program = ByteRange{ body.Position(), body.Remaining() };

    unit->minInstructionLength = header.U8();
    const unsigned maxOperations = unit->version >= 4 ? header.U8() : 1;
    header.U8();   /* the default of the statement flag */
    unit->lineBase = header.S8();
    unit->lineRange = header.U8();
    unit->opcodeBase = header.U8();
    if (header.Failed() || maxOperations != 1 || unit->lineRange == 0 || unit->opcodeBase == 0)
        return false;
    unit->standardLengths = header.Position();
    header.Skip(unit->opcodeBase - 1);
    if (header.Failed())
        return false;

    if (unit->version >= 5) {
        const FormContext context = LineContext(*unit);
        return ReadEntryTable(header, context, &unit->directoryFormats, &unit->directoryFormatCount,
                              &unit->directories, &unit->directoryCount) &&
            ReadEntryTable(header, context, &unit->fileFormats, &unit->fileFormatCount, &unit->files,
                           &unit->fileCount);
    }
    return ReadTextList(header, 0, &unit->directories, &unit->directoryCount) &&
        ReadTextList(header, 3, &unit->files, &unit->fileCount);
}

LineProgram::LineProgram(const LineUnit& unit) : unit_(unit), reader_(unit.program), damaged_(false), steps_(0)
{
    Reset();
}

LineProgram::LineProgram(const LineUnit& unit, size_t start, const LineRow& row)
    : unit_(unit), reader_(unit.program, start), damaged_(reader_.Failed()), steps_(0), address_(row.address),
      file_(row.file), line_(row.line)
{
}

void LineProgram::Reset()
{
    address_ = 0;
    file_ = 1;
    line_ = 1;
}

bool LineProgram::Damage()
{
    damaged_ = true;
    return false;
}

/* Advances by instructions, as special opcodes and the address advances
 * do; an address that would overflow makes the program damaged. */
bool LineProgram::Advance(uint64_t instructions)
{
    if (unit_.minInstructionLength && instructions > UINT64_MAX / unit_.minInstructionLength)
        return false;
    const uint64_t bytes = instructions * unit_.minInstructionLength;
    if (bytes > UINT64_MAX - address_)
        return false;
    address_ += bytes;
    return true;
}

/* Lines are unsigned 32-bit numbers; an advance that leaves them makes
 * the program damaged. */
bool LineProgram::AdvanceLine(int64_t lines)
{
    const uint64_t magnitude = lines < 0 ? 0 - static_cast<uint64_t>(lines) : static_cast<uint64_t>(lines);
    if (lines < 0 ? magnitude > line_ : magnitude > UINT32_MAX - line_)
        return false;
    line_ = lines < 0 ? line_ - magnitude : line_ + magnitude;
    return true;
}

void LineProgram::Emit(LineRow* row, bool endSequence)
{
    row->address = address_;
    row->file = file_;
    row->line = line_;
    row->endSequence = endSequence;
}

bool LineProgram::Extended(LineRow* row, bool* emitted)
{
    const uint64_t length = reader_.Uleb();
    ByteReader operation = reader_.Take(length);
    if (reader_.Failed() || length == 0)
        return false;
    switch (operation.U8()) {
    case kEndSequence:
        Emit(row, true);
        *emitted = true;
        Reset();
        return true;
    case kSetAddress:
        if (length - 1 == 0 || length - 1 > 8)
            return false;
        address_ = operation.Unsigned(static_cast<size_t>(length - 1));
        return true;
    default:
        /* Discriminators, and files defined in the program, whose indexes
         * lie past the header's table and so give no line. */
        return true;
    }
}

bool LineProgram::Standard(unsigned opcode, LineRow* row, bool* emitted)
{
    switch (opcode) {
    case kCopy:
        Emit(row, false);
        *emitted = true;
        return true;
    case kAdvancePc: {
        const uint64_t instructions = reader_.Uleb();
        return !reader_.Failed() && Advance(instructions);
    }
    case kAdvanceLine: {
        const int64_t lines = reader_.Sleb();
        return !reader_.Failed() && AdvanceLine(lines);
    }
    case kSetFile:
        file_ = reader_.Uleb();
        return true;
    case kSetColumn:
    case kSetIsa:
        reader_.Uleb();
        return true;
    case kNegateStatement:
    case kSetBasicBlock:
    case kSetPrologueEnd:
    case kSetEpilogueBegin:
        return true;
    case kConstAddPc:
        return Advance((255 - unit_.opcodeBase) / unit_.lineRange);
    case kFixedAdvancePc: {
        const uint64_t bytes = reader_.U16();
        if (bytes > UINT64_MAX - address_)
            return false;
        address_ += bytes;
        return true;
    }
    default:
        /* An opcode of a later version: its arguments are LEB128 numbers,
         * as many as the header says. */
        for (unsigned i = 0; i < unit_.standardLengths[opcode - 1]; ++i)
            reader_.Uleb();
        return true;
    }
}

bool LineProgram::Next(LineRow* row)
{
    while (!damaged_ && !reader_.AtEnd()) {
        ++steps_;
        const unsigned opcode = reader_.U8();
        bool emitted = false;
        bool sound;
        if (opcode >= unit_.opcodeBase) {
            const unsigned adjusted = opcode - unit_.opcodeBase;
            sound = Advance(adjusted / unit_.lineRange) &&
                AdvanceLine(unit_.lineBase + static_cast<int>(adjusted % unit_.lineRange));
            if (sound) {
                Emit(row, false);
                emitted = true;
            }
        } else if (opcode == 0) {
            sound = Extended(row, &emitted);
        } else {
            sound = Standard(opcode, row, &emitted);
        }
        if (!sound || reader_.Failed())
            return Damage();
        if (emitted)
            return true;
    }
    return false;
}

bool LineFilePath(const DebugSections& sections, const LineUnit& unit, uint64_t file,
                  const char* compilationDirectory, char* path, size_t size)
{
    const char* name = nullptr;
    const char* directory = nullptr;
    const char* base = nullptr;
    if (unit.version >= 5) {
        uint64_t index = 0;
        if (file >= unit.fileCount ||
            !ReadEntry(sections, unit, unit.fileFormats, unit.fileFormatCount, unit.files, file, &name, &index) ||
            !name)
            return false;
        if (!Absolute(name)) {
            uint64_t unused = 0;
            if (index >= unit.directoryCount ||
                !ReadEntry(sections, unit, unit.directoryFormats, unit.directoryFormatCount, unit.directories,
                           index, &directory, &unused) ||
                !directory)
                return false;
            /* Directory 0 is the compilation directory. */
            if (index != 0 && !Absolute(directory) &&
                !ReadEntry(sections, unit, unit.directoryFormats, unit.directoryFormatCount, unit.directories, 0,
                           &base, &unused))
                return false;
        }
    } else {
        if (file == 0 || file > unit.fileCount)
            return false;
        ByteReader files(unit.files);
        uint64_t index = 0;
        for (uint64_t n = 1; n <= file; ++n) {
            name = files.Text();
            index = files.Uleb();
            files.Uleb();
            files.Uleb();
        }
        if (files.Failed() || !name)
            return false;
        if (!Absolute(name)) {
            if (index > unit.directoryCount)
                return false;
            ByteReader directories(unit.directories);
            for (uint64_t n = 1; n <= index; ++n)
                directory = directories.Text();
            if (directories.Failed())
                return false;
            /* Directory 0, and any relative one, lie in the compilation
             * directory, which older tables leave to the unit's entry. */
            if (index == 0 || !Absolute(directory))
                base = compilationDirectory;
        }
    }
    const char* parts[] = { base, directory, name };
    return Join(parts, 3, path, size);
}

}  // namespace tk
