/* frame_walk.cpp -- what both targets' frame walks share. */
#include "frames/frame_walk.h"
#include "frames/processor.h"

namespace tk {

namespace {

const void* g_personality;

/* The stack that OtherThreadStack lends to the thread walker. */
DWORD_PTR g_otherLow, g_otherHigh;
volatile DWORD g_otherWalker;

/* The pages at a stack's end that the system does not hand out: the guard
 * page that it moves down as the stack grows, and the room it keeps to
 * raise the overflow itself. */
const size_t kStackEndReserve = 3 * 4096;

}  // namespace

NT_TIB* ThreadBlock()
{
/* GCC 12 takes the segment read of NtCurrentTeb for an access to an
 * empty array. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
    return reinterpret_cast<NT_TIB*>(NtCurrentTeb());
#pragma GCC diagnostic pop
}

void LearnPersonality()
{
    HMODULE runtime = GetModuleHandleA("libstdc++-6.dll");
    g_personality = runtime ? reinterpret_cast<const void*>(GetProcAddress(runtime, arch::kCxxPersonality))
                            : nullptr;
}

bool OnThreadStack(DWORD_PTR address, size_t bytes)
{
    const NT_TIB* tib = ThreadBlock();
    DWORD_PTR base = reinterpret_cast<DWORD_PTR>(tib->StackBase);
    DWORD_PTR limit = reinterpret_cast<DWORD_PTR>(tib->StackLimit);
    const DWORD walker = g_otherWalker;
    if (walker && walker == GetCurrentThreadId()) {
        base = g_otherHigh;
        limit = g_otherLow;
    }
    /* Measured down from the base: an address near the top of the address
     * space (a frame pointer of -1) must not wrap round into the stack. */
    return address >= limit && address <= base && bytes <= base - address;
}

OtherThreadStack::OtherThreadStack(DWORD_PTR low, DWORD_PTR high)
{
    g_otherLow = low;
    g_otherHigh = high;
    g_otherWalker = GetCurrentThreadId();
}

OtherThreadStack::~OtherThreadStack() { g_otherWalker = 0; }

bool RoomBelow(DWORD_PTR stackPointer, size_t bytes)
{
    /* The committed part ends at StackLimit; the rest of the reservation,
     * down to its base, is committed as the stack grows. Only when the
     * committed part is short a system call tells the base: neither a lock
     * nor an allocation of this process. */
    const DWORD_PTR committed = reinterpret_cast<DWORD_PTR>(ThreadBlock()->StackLimit);
    if (stackPointer > committed && stackPointer - committed >= bytes)
        return true;
    MEMORY_BASIC_INFORMATION region;
    if (!VirtualQuery(reinterpret_cast<const void*>(stackPointer), &region, sizeof region))
        return false;
    const DWORD_PTR end = reinterpret_cast<DWORD_PTR>(region.AllocationBase) + kStackEndReserve;
    return stackPointer > end && stackPointer - end >= bytes;
}

bool HandlerRecordIn(DWORD_PTR low, DWORD_PTR high)
{
    DWORD_PTR below = 0;
    for (const EXCEPTION_REGISTRATION_RECORD* record = ThreadBlock()->ExceptionList;;) {
        const DWORD_PTR at = reinterpret_cast<DWORD_PTR>(record);
        if (at <= below || at >= high || !OnThreadStack(at, sizeof *record))
            return false;
        if (at >= low)
            return true;
        below = at;
        record = record->Next;
    }
}

const void* ThroughImportThunk(const void* routine)
{
    const void* const* slot = arch::ImportSlot(static_cast<const unsigned char*>(routine));
    return slot ? *slot : routine;
}

bool IsCxxPersonality(const void* routine)
{
    return routine && g_personality && ThroughImportThunk(routine) == g_personality;
}

}  // namespace tk
