/* unit_functions.cpp -- the functions of one unit's code ranges. */
#include <algorithm>

#include "debugnames/range_list.h"
#include "debugnames/unit_functions.h"

namespace tk {

namespace {

enum Tag : unsigned {
    kClass = 0x02, kInlinedSubroutine = 0x1d, kStructure = 0x13, kUnion = 0x17, kSubprogram = 0x2e,
    kInterface = 0x38, kNamespace = 0x39,
};

bool IsScope(unsigned tag)
{
    return tag == kNamespace || tag == kClass || tag == kStructure || tag == kUnion || tag == kInterface;
}

bool Wanted(unsigned tag) { return tag == kSubprogram || tag == kInlinedSubroutine; }

/* The node around entries inside a function that has none. */
const int32_t kLost = -2;

/* A value of data form that fits 32 bits; 0 otherwise. */
uint32_t Small(const FormValue& value)
{
    return value.kind == FormValue::kConstant && value.value <= UINT32_MAX ? static_cast<uint32_t>(value.value) : 0;
}

}  // namespace

/* An entry whose children are being read. */
struct UnitFunctions::Open {
    uint32_t entry;
    unsigned tag;
    int32_t node;    /* the innermost node at or around it; -1 for none */
    int32_t scope;   /* its scope, once kept; -1 before */
};

struct UnitFunctions::Builder {
    UnitFunctions* functions;
    Reallocate reallocate;
    uint64_t imageBase;
    int32_t node;
    bool outOfMemory;
    Open open[kMostDepth];
    int depth;

    /* The innermost scope around the entries now open, kept with its own
     * scopes on first need. */
    int32_t KeepScopes()
    {
        int32_t parent = -1;
        for (int i = 0; i < depth; ++i) {
            if (!IsScope(open[i].tag))
                continue;
            if (open[i].scope < 0) {
                Scope* scope = functions->scopes_.Append(reallocate);
                if (!scope) {
                    outOfMemory = true;
                    return -1;
                }
                *scope = Scope{ open[i].entry, parent };
                open[i].scope = functions->scopes_.count - 1;
            }
            parent = open[i].scope;
        }
        return parent;
    }
};

void UnitFunctions::AddRange(void* context, uint64_t low, uint64_t high)
{
    Builder* builder = static_cast<Builder*>(context);
    const uint64_t base = builder->imageBase;
    if (low < base || high - base > UINT32_MAX || builder->outOfMemory)
        return;
    Range* range = builder->functions->ranges_.Append(builder->reallocate);
    if (!range) {
        builder->outOfMemory = true;
        return;
    }
    *range = Range{ static_cast<uint32_t>(low - base), static_cast<uint32_t>(high - base), builder->node, -1 };
}

bool UnitFunctions::Build(const UnitHeader& unit, const UnitFacts& facts, const AbbreviationIndex& abbrevs,
                          int table, const DebugSections& sections, uint64_t imageBase, Reallocate reallocate,
                          Release release)
{
    Clear(release);
    if (unit.end > UINT32_MAX)
        return true;
    Builder builder = { this, reallocate, imageBase, -1, false, {}, 0 };
    ByteReader reader(ByteRange{ sections.info.data, static_cast<size_t>(unit.end) }, unit.entries);
    Entry entry;
    bool sound = true;
    /* The unit's own entry comes first, and everything else is its child. */
    while (sound && !reader.AtEnd() && !builder.outOfMemory) {
        if (!ReadEntry(reader, unit, abbrevs, table, sections, Wanted, &entry)) {
            sound = false;
            break;
        }
        if (entry.tag == 0) {
            if (builder.depth == 0) {
                sound = false;
                break;
            }
            if (--builder.depth == 0)
                break;
            continue;
        }
        const int32_t around = builder.depth ? builder.open[builder.depth - 1].node : -1;
        int32_t node = around;
        if (Wanted(entry.tag)) {
            const bool inlined = entry.tag == kInlinedSubroutine;
            const int before = ranges_.count;
            builder.node = nodes_.count;
            /* A function whose ranges cannot be read keeps the calls inlined
             * into it from being taken for calls inlined into another. */
            node = kLost;
            if (!(inlined && around == kLost) && ForEachRange(entry, unit, facts, sections, AddRange, &builder)) {
                if (ranges_.count > before) {
                    Node* added = nodes_.Append(reallocate);
                    if (!added) {
                        builder.outOfMemory = true;
                        break;
                    }
                    *added = Node{ static_cast<uint32_t>(entry.offset), inlined ? around : -1,
                                   inlined ? Small(entry.callFile) : 0, inlined ? Small(entry.callLine) : 0 };
                    node = nodes_.count - 1;
                }
            } else {
                ranges_.count = before;
            }
            if (!inlined && entry.linkageName.kind == FormValue::kAbsent && entry.name.kind != FormValue::kAbsent) {
                const int32_t scope = builder.KeepScopes();
                Named* named = builder.outOfMemory ? nullptr : named_.Append(reallocate);
                if (!named) {
                    builder.outOfMemory = true;
                    break;
                }
                *named = Named{ static_cast<uint32_t>(entry.offset), scope };
            }
        }
        if (entry.children) {
            if (builder.depth == kMostDepth) {
                sound = false;
                break;
            }
            builder.open[builder.depth++] = Open{ static_cast<uint32_t>(entry.offset), entry.tag, node, -1 };
        } else if (builder.depth == 0) {
            break;
        }
    }
    if (builder.outOfMemory) {
        Clear(release);
        return false;
    }
    if (!sound) {
        Clear(release);
        damaged_ = true;
        return true;
    }
    Link();
    return true;
}

/* Sorts the ranges, outer before inner where they begin together, and
 * links each to the nearest earlier range that holds it. */
void UnitFunctions::Link()
{
    std::sort(ranges_.items, ranges_.items + ranges_.count, [](const Range& a, const Range& b) {
        return a.low != b.low ? a.low < b.low : a.high != b.high ? a.high > b.high : a.node < b.node;
    });
    int open[kMostDepth];
    int depth = 0;
    for (int i = 0; i < ranges_.count; ++i) {
        Range& range = ranges_.items[i];
        while (depth && ranges_.items[open[depth - 1]].high <= range.low)
            --depth;
        range.enclosing = depth ? open[depth - 1] : -1;
        if (depth < kMostDepth)
            open[depth++] = i;
    }
}

int UnitFunctions::Innermost(uint64_t offset) const
{
    const Range* begin = ranges_.items;
    const Range* end = begin + ranges_.count;
    const Range* after = std::upper_bound(begin, end, offset, [](uint64_t value, const Range& r) { return value < r.low; });
    int at = static_cast<int>(after - begin) - 1;
    for (int climbed = 0; at >= 0 && climbed <= kMostDepth; ++climbed) {
        if (offset < ranges_.items[at].high)
            return ranges_.items[at].node;
        at = ranges_.items[at].enclosing;
    }
    return -1;
}

int UnitFunctions::ScopesOf(uint64_t entry, uint32_t* scopes, int most) const
{
    const Named* begin = named_.items;
    const Named* end = begin + named_.count;
    const Named* found =
        std::lower_bound(begin, end, entry, [](const Named& n, uint64_t value) { return n.entry < value; });
    if (found == end || found->entry != entry)
        return 0;
    int count = 0;
    for (int32_t scope = found->scope; scope >= 0 && count < most; scope = scopes_.items[scope].parent)
        scopes[count++] = scopes_.items[scope].entry;
    return count;
}

void UnitFunctions::Clear(Release release)
{
    nodes_.Clear(release);
    ranges_.Clear(release);
    named_.Clear(release);
    scopes_.Clear(release);
    damaged_ = false;
}

}  // namespace tk
