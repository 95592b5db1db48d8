/* line_index.cpp -- where the rows of a module's line tables lie. */
#include <limits.h>

#include <algorithm>

#include "debuginfo/address_spans.h"
#include "debuginfo/dwarf_unit.h"
#include "debuginfo/line_index.h"

namespace tk {

namespace {

/* Gives back what the doubling left unused; keeps the storage as it is
 * when the smaller block cannot be had. */
template <typename T>
void Fit(GrowableArray<T>& array, LineIndex::Reallocate reallocate)
{
    if (array.count == 0 || array.count == array.capacity)
        return;
    void* fitted = reallocate(array.items, array.count * sizeof(T));
    if (fitted) {
        array.items = static_cast<T*>(fitted);
        array.capacity = array.count;
    }
}

}  // namespace

bool LineIndex::IndexUnit(const LineUnit& unit, Reallocate reallocate)
{
    const int before = entries_.count;
    uint64_t unitRows = 0, sequenceRows = 0;
    int sequenceFirst = before;
    bool inSequence = false, keep = true;
    unsigned runRows = 0;
    uint64_t previous = 0, runStart = 0;
    LineProgram program(unit);
    LineRow row;
    while (program.Next(&row)) {
        if (!inSequence) {
            inSequence = true;
            keep = true;
            sequenceFirst = entries_.count;
            sequenceRows = 0;
            runRows = 0;
            runStart = program.Steps();
        } else if (row.address < previous || program.Steps() - runStart > kMostSteps) {
            keep = false;
        }
        const bool inImage = row.address >= imageBase_ && row.address - imageBase_ <= UINT32_MAX;
        if (row.endSequence) {
            inSequence = false;
            if (entries_.count > sequenceFirst && keep && inImage) {
                Entry& last = entries_.items[entries_.count - 1];
                last.high = static_cast<uint32_t>(row.address - imageBase_);
                if (last.high == last.low)
                    --entries_.count;
                unitRows += sequenceRows;
            } else {
                entries_.count = sequenceFirst;
            }
            continue;
        }
        ++sequenceRows;
        /* A run begins at the first row of its address, so that the run
         * before it ends where it begins. */
        const bool first = entries_.count == sequenceFirst;
        if (keep && (first || (runRows >= kRowsPerEntry && row.address > previous))) {
            const size_t start = program.Offset();
            if (!inImage || row.file > UINT32_MAX || start > UINT32_MAX) {
                keep = false;
            } else {
                const uint32_t low = static_cast<uint32_t>(row.address - imageBase_);
                if (!first)
                    entries_.items[entries_.count - 1].high = low;
                Entry* entry = entries_.Append(reallocate);
                if (!entry)
                    return false;
                *entry = Entry{ low, low, static_cast<uint32_t>(unit.offset), static_cast<uint32_t>(start),
                                static_cast<uint32_t>(row.file), static_cast<uint32_t>(row.line) };
                runRows = 0;
                runStart = program.Steps();
            }
        }
        ++runRows;
        previous = row.address;
    }
    /* A damaged program may have misled every row before the damage; a
     * sequence without its end has no end address. */
    if (program.Damaged()) {
        entries_.count = before;
        return true;
    }
    if (inSequence)
        entries_.count = sequenceFirst;
    rows_ += unitRows;
    return true;
}

bool LineIndex::AddDirectory(void* context, uint64_t lineOffset, const char* path)
{
    LineIndex* index = static_cast<LineIndex*>(context);
    const ByteRange places[] = { index->building_->info, index->building_->str, index->building_->lineStr };
    for (uint32_t section = 0; path && lineOffset <= UINT32_MAX && section < 3; ++section) {
        const ByteRange place = places[section];
        const unsigned char* text = reinterpret_cast<const unsigned char*>(path);
        if (!place.data || text < place.data || text >= place.data + place.size ||
            static_cast<size_t>(text - place.data) > UINT32_MAX)
            continue;
        Directory* directory = index->directories_.Append(index->reallocate_);
        if (!directory) {
            index->outOfMemory_ = true;
            return false;
        }
        *directory = Directory{ static_cast<uint32_t>(lineOffset), static_cast<uint32_t>(text - place.data), section };
        break;
    }
    return true;
}


bool LineIndex::Build(const DebugSections& sections, uint64_t imageBase, Reallocate reallocate, Release release)
{
    Clear(release);
    imageBase_ = imageBase;
    bool older = false;
    for (uint64_t offset = 0; offset < sections.line.size;) {
        LineUnit unit;
        uint64_t next = 0;
        if (ReadLineUnit(sections, offset, &unit, &next) && offset <= UINT32_MAX) {
            older = older || unit.version < 5;
            if (!IndexUnit(unit, reallocate)) {
                Clear(release);
                return false;
            }
        }
        offset = next;
    }
    if (older) {
        building_ = &sections;
        reallocate_ = reallocate;
        outOfMemory_ = false;
        AbbreviationIndex abbrevs;
        const bool walked = ForEachCompilationUnit(sections, abbrevs, reallocate, release, AddDirectory, this);
        abbrevs.Clear(release);
        building_ = nullptr;
        if (outOfMemory_ || !walked) {
            Clear(release);
            return false;
        }
    }
    std::sort(entries_.items, entries_.items + entries_.count,
              [](const Entry& a, const Entry& b) { return a.low < b.low; });
    EmptyOverlaps(entries_.items, entries_.count);
    /* A stable sort keeps the first unit to name a table first. */
    std::stable_sort(directories_.items, directories_.items + directories_.count,
                     [](const Directory& a, const Directory& b) { return a.unit < b.unit; });
    Fit(entries_, reallocate);
    Fit(directories_, reallocate);
    return true;
}

void LineIndex::Clear(Release release)
{
    entries_.Clear(release);
    directories_.Clear(release);
    rows_ = 0;
}

const char* LineIndex::CompilationDirectory(const DebugSections& sections, uint64_t unit) const
{
    const Directory* begin = directories_.items;
    const Directory* end = begin + directories_.count;
    const Directory* found =
        std::lower_bound(begin, end, unit, [](const Directory& d, uint64_t value) { return d.unit < value; });
    if (found == end || found->unit != unit)
        return nullptr;
    const ByteRange places[] = { sections.info, sections.str, sections.lineStr };
    return SectionText(places[found->section], found->offset);
}

bool LineIndex::Find(const DebugSections& sections, uint64_t offset, char* path, size_t size, unsigned* line) const
{
    if (offset > UINT32_MAX)
        return false;
    const Entry* begin = entries_.items;
    const Entry* end = begin + entries_.count;
    const Entry* after = std::upper_bound(begin, end, static_cast<uint32_t>(offset),
                                          [](uint32_t value, const Entry& e) { return value < e.low; });
    if (after == begin || offset >= after[-1].high)
        return false;
    const Entry& entry = after[-1];

    LineUnit unit;
    uint64_t next = 0;
    if (!ReadLineUnit(sections, entry.unit, &unit, &next))
        return false;
    const uint64_t address = imageBase_ + offset;
    LineRow previous = { imageBase_ + entry.low, entry.file, entry.line, false };
    LineProgram program(unit, entry.start, previous);
    LineRow row;
    while (program.Next(&row) && program.Steps() <= 2 * kMostSteps) {
        if (previous.address <= address && address < row.address) {
            if (previous.line == 0 || previous.line > INT_MAX)
                return false;
            const char* directory = unit.version < 5 ? CompilationDirectory(sections, unit.offset) : nullptr;
            if (!LineFilePath(sections, unit, previous.file, directory, path, size))
                return false;
            *line = static_cast<unsigned>(previous.line);
            return true;
        }
        if (row.endSequence)
            return false;
        previous = row;
    }
    return false;
}

}  // namespace tk
