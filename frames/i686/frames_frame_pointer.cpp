/* frames_frame_pointer.cpp (i686) -- stepping a frame by its saved frame
 * pointer, for code without call-frame tables: the system DLLs of i686
 * Windows carry none, but their functions keep ebp as a frame pointer,
 * with the caller's ebp at [ebp] and the return address above it. */
#include "frames/frame_walk.h"

namespace tk {

bool StepByFramePointer(CONTEXT& context)
{
    const DWORD frame = context.Ebp;
    /* A frame pointer lies at or above its own frame's stack pointer; one
     * below it is no frame pointer, or one of a frame already left. */
    if (frame < context.Esp || !OnThreadStack(frame, 2 * sizeof(DWORD)))
        return false;
    const DWORD* saved = reinterpret_cast<const DWORD*>(frame);
    context.Ebp = saved[0];
    context.Eip = saved[1];
    context.Esp = frame + 2 * sizeof(DWORD);
    return true;
}

}  // namespace tk
