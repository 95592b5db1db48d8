/* dwarf_line.h -- the line tables of .debug_line, versions 2 to 5, in 32-
 * and 64-bit DWARF.
 *
 * Pure functions over the section's bytes: nothing is allocated, and
 * nothing outside the given sections is read, whatever the bytes say. A
 * unit whose header or program breaks a rule gives no line at all rather
 * than one that might be wrong. */
#ifndef TOOLS_DEBUGINFO_DWARF_LINE_H
#define TOOLS_DEBUGINFO_DWARF_LINE_H

#include <stddef.h>
#include <stdint.h>

#include "debuginfo/dwarf_form.h"

namespace tk {

/* The header of one line-table unit, checked. */
struct LineUnit {
    uint64_t offset;            /* of the unit in .debug_line */
    unsigned version;           /* 2 to 5 */
    bool wide;                  /* 64-bit DWARF */
    unsigned addressSize;       /* from the version 5 header; 0 before */
    unsigned minInstructionLength;
    int lineBase;
    unsigned lineRange;         /* never 0 */
    unsigned opcodeBase;        /* never 0 */
    const unsigned char* standardLengths;   /* opcodeBase - 1 argument counts */
    /* Versions 2 to 4: the directory texts and the file entries, each list
     * ending with an empty text. Version 5: the entries as the formats
     * describe them. */
    ByteRange directoryFormats, directories;
    ByteRange fileFormats, files;
    uint64_t directoryFormatCount, directoryCount;
    uint64_t fileFormatCount, fileCount;
    ByteRange program;
};

/* Every lookup reads a unit's header and walks its tables of directories
 * and files: a unit that lists more than this many of either is taken for
 * damaged, so that no lookup walks further (GCC's list a few hundred). */
const uint64_t kMostFileEntries = 4096;

/* Reads the header of the unit at offset into unit. *next becomes the
 * offset of the unit after it, or the section's size when its length runs
 * past the section (no unit can be found after it then). False when the
 * header is damaged, uses what this reader does not know (among that,
 * instructions of several operations, which no x86 code has), lists more
 * than kMostFileEntries directories or files, or offset leaves no room for
 * a unit. */
bool ReadLineUnit(const DebugSections& sections, uint64_t offset, LineUnit* unit, uint64_t* next);

/* A row of a line table. */
struct LineRow {
    uint64_t address;
    uint64_t file;
    uint64_t line;
    bool endSequence;
};

/* Runs a unit's line program, row by row, from its beginning or from a
 * row met before. */
class LineProgram {
public:
    /* From the beginning. */
    explicit LineProgram(const LineUnit& unit);
    /* From offset start into the program, right after the opcode that
     * made row (not an end of sequence), with the registers row holds. */
    LineProgram(const LineUnit& unit, size_t start, const LineRow& row);

    /* The next row; false at the end of the program, or when the program
     * is damaged from here on (Damaged() then). */
    bool Next(LineRow* row);
    bool Damaged() const { return damaged_; }
    /* The offset into the program of the next opcode. */
    size_t Offset() const { return static_cast<size_t>(reader_.Position() - unit_.program.data); }
    /* How many opcodes this program has decoded. */
    uint64_t Steps() const { return steps_; }

private:
    void Reset();
    bool Advance(uint64_t instructions);
    bool AdvanceLine(int64_t lines);
    bool Extended(LineRow* row, bool* emitted);
    bool Standard(unsigned opcode, LineRow* row, bool* emitted);
    void Emit(LineRow* row, bool endSequence);
    bool Damage();

    const LineUnit& unit_;
    ByteReader reader_;
    bool damaged_;
    uint64_t steps_;
    uint64_t address_;
    uint64_t file_;
    uint64_t line_;
};

/* Writes the path of a unit's file into path (size bytes with the
 * terminator): the name the compiler recorded, joined with its directory,
 * and with the compilation directory where that is still relative, as
 * addr2line shows it. Version 5 tables hold that directory themselves;
 * older ones take compilationDirectory, the unit's entry's (null: none
 * known, and the path stays relative). False when the index lies past the
 * file table, a text cannot be read, or the path does not fit. */
bool LineFilePath(const DebugSections& sections, const LineUnit& unit, uint64_t file,
                  const char* compilationDirectory, char* path, size_t size);

}  // namespace tk

#endif
