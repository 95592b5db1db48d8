/* call_stack.cpp -- the code addresses of a thread's frames. */
#include "base/last_error.h"
#include "faults/call_stack.h"
#include "faults/frame_walk.h"
#include "faults/processor.h"

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
 * kMostSkipped of them) before the first one recorded. */
int Walk(CONTEXT& context, bool firstIsFault, const CodeRange& skip, DWORD_PTR* frames, int most)
{
    int count = 0;
    for (int depth = 0; count < most && depth < most + kMostSkipped; ++depth) {
        const DWORD_PTR pc = arch::ProgramCounter(context);
        if (!pc)
            break;   /* the thread's first frame */
        if (count || !skip.Holds(pc))
            frames[count++] = pc;
        else if (depth >= kMostSkipped)
            break;
        if (!StepUp(context, firstIsFault && depth == 0))
            break;
    }
    return count;
}

}  // namespace

int RecordCallerStack(DWORD_PTR* frames, int most)
{
    LastErrorKeeper keep;
    CONTEXT context;
    /* The registers as this function has them after the call: its frame,
     * whose program counter is a return address. */
    RtlCaptureContext(&context);
    return Walk(context, false, OwnModule(), frames, most);
}

int RecordStackFrom(CONTEXT& frame, DWORD_PTR* frames, int most)
{
    LastErrorKeeper keep;
    return Walk(frame, false, CodeRange{ 0, 0 }, frames, most);
}

}  // namespace tk
