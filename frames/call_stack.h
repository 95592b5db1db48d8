/* call_stack.h -- the code addresses of a thread's frames, innermost first,
 * for an exception's record of where it arose. The walk steps frames the
 * way the fault translator's own walk does (frames/frame_walk.h): it reads
 * nothing beyond the thread's stack and the unwind tables, allocates
 * nothing, and ends at the stack's end, at a frame it cannot step, or when
 * the room given is full. */
#ifndef TOOLS_FRAMES_CALL_STACK_H
#define TOOLS_FRAMES_CALL_STACK_H

#include <windows.h>

namespace tk {

/* As many frames as an exception keeps. */
const int kMostStackFrames = 64;

/* Records up to most code addresses of the calling thread's frames into
 * frames and returns how many: return addresses, from the first frame
 * outside the library's own module, so that an exception made inside it
 * starts at the code that called in. Keeps the last-error code. */
int RecordCallerStack(DWORD_PTR* frames, int most);

/* The frames above the catch that a thread's last translated fault went
 * to, kept so that the next one takes them without a walk while they are
 * unchanged: a host that faults in a loop meets the same frames each time. */
struct StackTail {
    int count;                            /* 0: none kept */
    bool ended;                           /* the walk met the stack's end, not the room's */
    DWORD_PTR frames[kMostStackFrames];
    DWORD_PTR slots[kMostStackFrames];    /* where each return address lies */
};

/* Records up to most code addresses of the frames from frame up, whose
 * program counter is a return address, and returns how many: those that
 * tail kept when each of them still lies where it lay, else a walk's,
 * which tail then keeps; frame may be stepped. For the fault handlers,
 * which go on from where their own walk to the catching frame left off:
 * it takes no lock that the heap or the loader holds, once the frame
 * lookup was prepared (PrepareThrowSites). Keeps the last-error code. */
int RecordStackFrom(CONTEXT& frame, DWORD_PTR* frames, int most, StackTail* tail);

/* Records up to most code addresses of another thread's frames, from
 * context up, and returns how many: the thread faulted at context's
 * program counter, or was suspended there, and waits while the walk reads
 * its stack, which lies in [stackLow, stackHigh). For a report made on a
 * thread of its own. */
int RecordThreadStack(CONTEXT& context, DWORD_PTR stackLow, DWORD_PTR stackHigh, DWORD_PTR* frames, int most);

}  // namespace tk

#endif
