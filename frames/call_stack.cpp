/* call_stack.cpp -- the code addresses of a thread's frames. */
#include "base/last_error.h"
#include "frames/call_stack.h"
#include "frames/frame_walk.h"
#include "frames/processor.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace tk {

namespace {

/* Frames of the library's own module that a walk from inside it passes
 * before the caller's; a few in practice. */
const int kMostSkipped = 16;

struct CodeRange {
    DWORD_PTR low, high;
    bool Holds(DWORD_PTR address) const { return address >= low && address < high; }
};

CodeRange OwnModule()
{
    const BYTE* base = reinterpret_cast<const BYTE*>(&__ImageBase);
    const IMAGE_NT_HEADERS* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + __ImageBase.e_lfanew);
    const DWORD_PTR low = reinterpret_cast<DWORD_PTR>(base);
    return { low, low + headers->OptionalHeader.SizeOfImage };
}

/* Steps context to its caller's frame: by the unwind tables, else, where
 * the target's code keeps frame pointers without tables, by the chain of
 * saved frame pointers. A step must move up the stack: a walk over
 * damaged frames then still ends. A step that fails ends the walk, so
 * context may be left as it is then. */
bool StepUp(CONTEXT& context, bool first)
{
    const DWORD_PTR below = arch::StackPointer(context);
    FrameFacts facts = {};
    /* StepFrame changes nothing when it finds no tables: the frame
     * pointers are then still the frame's own. */
    if (!StepFrame(context, first, &facts) && !StepByFramePointer(context))
        return false;
    return !arch::ProgramCounter(context) || arch::StackPointer(context) > below;
}

/* Records from context, skipping the frames that skip holds (at most
 * kMostSkipped of them) before the first one recorded; with slots, also
 * where each recorded return address lies. *ended tells whether the walk
 * met the stack's end or a frame it cannot step, rather than running out
 * of room. */
int Walk(CONTEXT& context, const CodeRange& skip, DWORD_PTR* frames, DWORD_PTR* slots, int most, bool* ended)
{
    int count = 0;
    *ended = true;
    for (int depth = 0; depth < most + kMostSkipped; ++depth) {
        const DWORD_PTR pc = arch::ProgramCounter(context);
        if (!pc)
            return count;   /* the thread's first frame */
        if (count == most) {
            *ended = false;
            return count;
        }
        if (count || !skip.Holds(pc)) {
            if (slots)
                slots[count] = arch::StackPointer(context) - sizeof(DWORD_PTR);
            frames[count++] = pc;
        } else if (depth >= kMostSkipped) {
            return count;
        }
        if (!StepUp(context, false))
            return count;
    }
    return count;
}

/* Whether the frames that tail kept are still those from frame up: each
 * return address is where it was. A return address lies just below the
 * stack pointer of the frame it returns to, so the same addresses in the
 * same places are the same frames. */
bool Unchanged(const StackTail& tail, const CONTEXT& frame)
{
    if (!tail.count || tail.frames[0] != arch::ProgramCounter(frame) ||
        tail.slots[0] != arch::StackPointer(frame) - sizeof(DWORD_PTR))
        return false;
    for (int i = 0; i < tail.count; ++i)
        if (!OnThreadStack(tail.slots[i], sizeof(DWORD_PTR)) ||
            *reinterpret_cast<const DWORD_PTR*>(tail.slots[i]) != tail.frames[i])
            return false;
    return true;
}

}  // namespace

int RecordCallerStack(DWORD_PTR* frames, int most)
{
    LastErrorKeeper keep;
    CONTEXT context;
    /* The registers as this function has them after the call: its frame,
     * whose program counter is a return address. */
    RtlCaptureContext(&context);
    bool ended;
    return Walk(context, OwnModule(), frames, nullptr, most, &ended);
}

int RecordStackFrom(CONTEXT& frame, DWORD_PTR* frames, int most, StackTail* tail)
{
    LastErrorKeeper keep;
    if (Unchanged(*tail, frame) && (tail->ended || tail->count >= most)) {
        const int count = tail->count < most ? tail->count : most;
        for (int i = 0; i < count; ++i)
            frames[i] = tail->frames[i];
        return count;
    }
    tail->count = Walk(frame, CodeRange{ 0, 0 }, tail->frames, tail->slots, most, &tail->ended);
    for (int i = 0; i < tail->count; ++i)
        frames[i] = tail->frames[i];
    return tail->count;
}

/* Whether address follows a call instruction in a module's code: a direct
 * call (E8 rel32), or an indirect one through memory (FF /2 with a 32-bit
 * displacement) or a register (FF /2, register form). */
bool AfterCall(DWORD_PTR address)
{
    const DWORD kExecutable = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    MEMORY_BASIC_INFORMATION region;
    if (address < 6 || !VirtualQuery(reinterpret_cast<const void*>(address - 6), &region, sizeof region) ||
        region.Type != MEM_IMAGE || !(region.Protect & kExecutable) ||
        address > reinterpret_cast<DWORD_PTR>(region.BaseAddress) + region.RegionSize)
        return false;
    const unsigned char* code = reinterpret_cast<const unsigned char*>(address);
    return code[-5] == 0xE8 || (code[-6] == 0xFF && (code[-5] & 0xF8) == 0x10) ||
        (code[-2] == 0xFF && (code[-1] & 0xF8) == 0xD0);
}

/* The function that faulted has no unwind tables and may have pushed
 * registers: the stack probe that meets the stack's end, which every
 * function with a frame of a page or more calls, pushes two. Its return
 * address is then one of the first few slots: the first that follows a
 * call instruction is taken. Only for the faulting frame, where a walk
 * would otherwise stop or read a pushed register as a return address. */
bool StepToReturnAddress(CONTEXT& context)
{
    const int kSlots = 4;
    const DWORD_PTR sp = arch::StackPointer(context);
    for (int i = 0; i < kSlots; ++i) {
        const DWORD_PTR slot = sp + i * sizeof(DWORD_PTR);
        if (!OnThreadStack(slot, sizeof(DWORD_PTR)))
            return false;
        const DWORD_PTR value = *reinterpret_cast<const DWORD_PTR*>(slot);
        if (AfterCall(value)) {
            arch::SetProgramCounter(context, value);
            arch::SetStackPointer(context, slot + sizeof(DWORD_PTR));
            return true;
        }
    }
    return false;
}

int RecordThreadStack(CONTEXT& context, DWORD_PTR stackLow, DWORD_PTR stackHigh, DWORD_PTR* frames, int most)
{
    LastErrorKeeper keep;
    const OtherThreadStack walking(stackLow, stackHigh);
    int count = 0;
    for (bool first = true; count < most; first = false) {
        const DWORD_PTR pc = arch::ProgramCounter(context);
        if (!pc)
            break;
        frames[count++] = pc;
        if (first && !HasUnwindTables(pc) && StepToReturnAddress(context))
            continue;
        if (!StepUp(context, first))
            break;
    }
    return count;
}

}  // namespace tk
