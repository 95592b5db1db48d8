/* vtable_slot.h -- the slot of a virtual function in its class's table.
 *
 * Hosts built against a header call the operations through the table of
 * virtual functions; a reordering would make them call the wrong one. In
 * this ABI a pointer to a virtual member holds 1 + the byte offset of its
 * slot; a virtual destructor takes the first two slots. */
#ifndef TOOLS_TESTS_VTABLE_SLOT_H
#define TOOLS_TESTS_VTABLE_SLOT_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace tktest {

template <typename Member>
int Slot(Member member)
{
    struct {
        uintptr_t pointer;
        ptrdiff_t adjustment;
    } raw;
    static_assert(sizeof raw == sizeof member, "member pointers of this compiler");
    memcpy(&raw, &member, sizeof raw);
    return static_cast<int>((raw.pointer - 1) / sizeof(void*));
}

}  // namespace tktest

#endif
