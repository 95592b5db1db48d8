/* frame_walk.h -- stepping a faulting thread's frames, one target's way
 * each (faults/i686/frames_dwarf_cfi.cpp, faults/x86_64/
 * frames_rtl_unwind.cpp), and what both ways share. */
#ifndef TOOLS_FAULTS_FRAME_WALK_H
#define TOOLS_FAULTS_FRAME_WALK_H

#include <windows.h>

#include "base/seam.h"
#include "faults/processor.h"

namespace tk {

/* The walk over the frames of a faulting thread . */
struct FrameFacts {
    const unsigned char* lsda;   /* the frame's GCC C++ exception table, or none */
    DWORD_PTR regionStart;       /* the address its call sites count from */
    /* The frame has an exception handler that is not GCC's: one that the
     * system calls for a fault, in its search for a handler, before any
     * catch in the frames above. */
    bool otherHandler;
};

/* The platform's lookup of the unwind information that covers a code
 * address: the system's function tables on x86_64, the tables that GCC's
 * modules register with its unwinder on i686. So that tests can make a
 * walk meet a lookup that faults, as one over corrupt tables may. */
struct FrameLookupPlatform {
    arch::FindFrameFn find;
};

extern const FrameLookupPlatform kSystemFrameLookupPlatform;

Seam<FrameLookupPlatform>& FrameLookupSeam();

/* Has the lookup do now, outside any fault, the work it does once for
 * each module that registered tables since (on i686 GCC's unwinder sorts
 * them on its first lookup, allocating under its lock). */
void WarmFrameLookup();

/* Finds GCC's C++ personality routine in the shared C++ runtime, by which
 * frames with C++ exception tables are told from others. */
void LearnPersonality();

/* Tells what is known of the frame whose registers context holds (its
 * program counter is the faulting instruction when first, else a return
 * address), and steps context to the frame's caller. false when the frame
 * cannot be unwound soundly. */
bool StepFrame(CONTEXT& context, bool first, FrameFacts* facts);

/* Steps context to its caller's frame by the chain of saved frame
 * pointers, for a frame that StepFrame cannot step: code without unwind
 * tables that keeps a frame pointer, as the i686 system DLLs do. Checked
 * against the thread's stack; false where the target has no such chain
 * to follow (x86_64, whose every frame the system's unwinder steps). */
bool StepByFramePointer(CONTEXT& context);

/* Whether bytes at address lie in the committed part of this thread's
 * stack, which is all that a walk from a fault on it reads. */
bool OnThreadStack(DWORD_PTR address, size_t bytes);

/* Whether routine is the personality routine that LearnPersonality found:
 * that routine itself (a C++ runtime linked in), or an import thunk that
 * jumps to it. */
bool IsCxxPersonality(const void* routine);

}  // namespace tk

#endif
