/* line_index.h -- where the rows of a module's line tables lie, so that a
 * lookup decodes only a few dozen rows.
 *
 * Building the index decodes every line program once. It keeps one entry
 * for every run of about kRowsPerEntry rows of a sequence: the address
 * range of the run and the registers after its first row, from which the
 * program can resume. A unit whose program turns out damaged anywhere
 * contributes nothing, and neither does a sequence whose addresses run
 * backwards or lie outside the 4 GiB above the image base (code that the
 * linker dropped sits at address 0), nor one with a run that a lookup
 * could not decode in kMostSteps opcodes (rows without end at one address,
 * opcodes that make no row). Where sequences overlap, the addresses of the
 * overlap have no line: either could be the code's.
 *
 * The index keeps offsets into the sections, never pointers, so that the
 * sections may be mapped anew, elsewhere, for each lookup. */
#ifndef TOOLS_DEBUGINFO_LINE_INDEX_H
#define TOOLS_DEBUGINFO_LINE_INDEX_H

#include <stddef.h>
#include <stdint.h>

#include "base/growable_array.h"
#include "debuginfo/dwarf_line.h"

namespace tk {

class LineIndex {
public:
    typedef void* (*Reallocate)(void* block, size_t bytes);
    typedef void (*Release)(void* block);

    /* A lookup decodes at most about this many rows... */
    static const unsigned kRowsPerEntry = 48;
    /* ...and never more than this many opcodes. */
    static const unsigned kMostSteps = 4096;

    LineIndex() : building_(nullptr), reallocate_(nullptr), outOfMemory_(false), imageBase_(0), rows_(0) {}
    LineIndex(const LineIndex&) = delete;
    LineIndex& operator=(const LineIndex&) = delete;

    /* Indexes the line tables of sections, whose addresses are those of an
     * image loaded at imageBase. False, with the index empty, when the
     * storage cannot grow; damaged tables are no failure, they are left
     * out. The owner calls Clear: the storage is the owner's platform's. */
    bool Build(const DebugSections& sections, uint64_t imageBase, Reallocate reallocate, Release release);
    void Clear(Release release);

    /* The source line of the code at offset from the image's start (its
     * relative virtual address), from the same sections the index was
     * built over: the row whose range holds it, the last of several at
     * one address. Its path goes into path (size bytes, see
     * LineFilePath). False when no indexed row holds it, its row has line
     * 0 (code of no line) or a line above INT_MAX, or its path cannot be
     * made. */
    bool Find(const DebugSections& sections, uint64_t offset, char* path, size_t size, unsigned* line) const;

    int Entries() const { return entries_.count; }
    /* The rows of the indexed sequences, their ends not counted. */
    uint64_t Rows() const { return rows_; }
    /* The storage the index holds. */
    size_t Bytes() const
    {
        return static_cast<size_t>(entries_.capacity) * sizeof(Entry) +
            static_cast<size_t>(directories_.capacity) * sizeof(Directory);
    }

private:
    /* A run of rows: addresses relative to the image base; the unit's
     * offset into .debug_line; the offset into its program right after
     * the run's first row, and that row's file and line. */
    struct Entry {
        uint32_t low, high;
        uint32_t unit, start;
        uint32_t file, line;
    };
    /* The compilation directory of a unit before version 5: the offset of
     * its text in one of the sections. */
    struct Directory {
        uint32_t unit;
        uint32_t offset;
        uint32_t section;   /* 0: .debug_info, 1: .debug_str, 2: .debug_line_str */
    };

    /* False when the storage cannot grow. */
    bool IndexUnit(const LineUnit& unit, Reallocate reallocate);
    static bool AddDirectory(void* context, uint64_t lineOffset, const char* path);
    const char* CompilationDirectory(const DebugSections& sections, uint64_t unit) const;

    GrowableArray<Entry> entries_;
    GrowableArray<Directory> directories_;
    const DebugSections* building_;   /* while building */
    Reallocate reallocate_;
    bool outOfMemory_;
    uint64_t imageBase_;
    uint64_t rows_;
};

}  // namespace tk

#endif
