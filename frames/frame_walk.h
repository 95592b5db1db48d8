/* frame_walk.h -- stepping a faulting thread's frames, one target's way
 * each (frames/i686/frames_dwarf_cfi.cpp, frames/x86_64/
 * frames_rtl_unwind.cpp), and what both ways share.
 *
 * StepFrame is the one stepping function of each target: any walk from a
 * fault's own context may call it, at the time of the fault, one frame
 * after another. It neither allocates nor waits on a lock. */
#ifndef TOOLS_FRAMES_FRAME_WALK_H
#define TOOLS_FRAMES_FRAME_WALK_H

#include <windows.h>

#include "base/seam.h"
#include "frames/processor.h"

namespace tk {

/* The walk over the frames of a faulting thread . */
struct FrameFacts {
    const unsigned char* lsda;   /* the frame's GCC C++ exception table, or none */
    DWORD_PTR regionStart;       /* the address its call sites count from */
    /* The frame has an exception handler that is not GCC's and that may
     * take a fault: one that the system calls for a fault, in its search
     * for a handler, before any catch in the frames above. Handlers that
     * never take one (GCC's C personality routine, a handler that only
     * runs cleanups or checks the frame's buffers) do not count. */
    bool otherHandler;
};

/* The lookup of the unwind information that covers a code address: the
 * system's function tables on x86_64; on i686 the library's own index of
 * the tables that GCC's modules registered with its unwinder. So that
 * tests can make a walk meet a lookup that faults, as one over corrupt
 * tables may. */
struct FrameLookupPlatform {
    arch::FindFrameFn find;
};

extern const FrameLookupPlatform kSystemFrameLookupPlatform;

Seam<FrameLookupPlatform>& FrameLookupSeam();

/* Brings what the lookup knows of the process's modules up to date, for
 * the modules loaded now. Outside any fault: it may allocate and lock. */
void RefreshFrameLookup();

/* The loader's word of a module that it maps now, before the module's
 * start-up code runs, and of one that it unmaps; outside any fault. */
void FrameLookupModuleLoaded(const void* base);
void FrameLookupModuleUnloaded(const void* base);

/* Frees what the lookup keeps, for the library's unload, when no walk can
 * run any more. */
void ReleaseFrameLookup();

/* Finds GCC's C++ personality routine in the shared C++ runtime, by which
 * frames with C++ exception tables are told from others. */
void LearnPersonality();

/* Tells what is known of the frame whose registers context holds (its
 * program counter is the faulting instruction when first, else a return
 * address), and steps context to the frame's caller. false when the frame
 * cannot be unwound soundly. */
bool StepFrame(CONTEXT& context, bool first, FrameFacts* facts);

/* Whether the unwind tables cover the code at pc. */
bool HasUnwindTables(DWORD_PTR pc);

/* Steps context to its caller's frame by the chain of saved frame
 * pointers, for a frame that StepFrame cannot step: code without unwind
 * tables that keeps a frame pointer, as the i686 system DLLs do. Checked
 * against the thread's stack; false where the target has no such chain
 * to follow (x86_64, whose every frame the system's unwinder steps). */
bool StepByFramePointer(CONTEXT& context);

/* The calling thread's block: its stack's bounds, and on i686 its chain of
 * exception handler records. */
NT_TIB* ThreadBlock();

/* Whether bytes at address lie in the committed part of this thread's
 * stack, which is all that a walk from a fault on it reads. */
bool OnThreadStack(DWORD_PTR address, size_t bytes);

/* For its life, OnThreadStack on the thread that made it answers for the
 * stack [low, high) of another thread, whose frames that thread walks
 * while the other waits or is suspended. One at a time in the process. */
class OtherThreadStack {
public:
    OtherThreadStack(DWORD_PTR low, DWORD_PTR high);
    ~OtherThreadStack();

private:
    OtherThreadStack(const OtherThreadStack&) = delete;
    OtherThreadStack& operator=(const OtherThreadStack&) = delete;
};

/* Whether this thread's stack has at least bytes below stackPointer
 * before the pages at its end that the system keeps for reporting an
 * overflow. */
bool RoomBelow(DWORD_PTR stackPointer, size_t bytes);

/* Whether a record of the thread's chain of exception handlers (the
 * thread block's ExceptionList) lies in [low, high): code whose frame is
 * there registered a handler, which the system calls in its search when it
 * reaches the frame. The chain runs from the deepest record up, and ends
 * at -1, or null, or at a record that breaks that order or leaves the
 * stack. On i686 it is where every frame's handler stands (GCC's code
 * registers none); 64-bit Windows leaves it empty, and Wine's own system
 * code keeps its __try blocks' handlers there. */
bool HandlerRecordIn(DWORD_PTR low, DWORD_PTR high);

/* Whether routine is the personality routine that LearnPersonality found:
 * that routine itself (a C++ runtime linked in), or an import thunk that
 * jumps to it. */
bool IsCxxPersonality(const void* routine);

/* routine itself, or the routine that an import thunk at routine jumps
 * to. */
const void* ThroughImportThunk(const void* routine);

}  // namespace tk

#endif
