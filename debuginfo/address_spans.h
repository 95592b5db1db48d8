/* address_spans.h -- sorted spans of addresses that must not overlap.
 *
 * Line sequences, and units' address ranges, each claim their addresses
 * for one answer. Where two claim the same addresses the bytes are
 * damaged, or misleading, and either answer could be wrong: lookups there
 * must find none. */
#ifndef TOOLS_DEBUGINFO_ADDRESS_SPANS_H
#define TOOLS_DEBUGINFO_ADDRESS_SPANS_H

#include <stdint.h>

namespace tk {

/* For spans sorted by their low address (each with uint32_t low and high):
 * empties every span that begins inside an earlier one, so that a lookup,
 * which takes the last span beginning at or below an address, finds no
 * answer where spans overlap. Spans that only touch are left alone. */
template <typename Span>
void EmptyOverlaps(Span* spans, int count)
{
    uint32_t reach = 0;
    for (int i = 0; i < count; ++i) {
        const uint32_t high = spans[i].high;
        if (spans[i].low < reach)
            spans[i].high = spans[i].low;
        if (high > reach)
            reach = high;
    }
}

}  // namespace tk

#endif
