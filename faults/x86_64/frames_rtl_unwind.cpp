/* frames_rtl_unwind.cpp (x86_64) -- stepping a faulting thread's frames with the
 * system's own unwinder and function tables, which every image of the
 * platform and of GCC carries. A frame's exception handler is the language
 * handler that its unwind information names. */
#include "faults/frame_walk.h"
#include "faults/processor.h"

namespace tk {

namespace {

bool OnStack(DWORD64 address) { return OnThreadStack(address, sizeof(DWORD64)); }

}  // namespace

constexpr FrameLookupPlatform kSystemFrameLookupPlatform = { RtlLookupFunctionEntry };

namespace {
Seam<FrameLookupPlatform> g_lookupSeam(kSystemFrameLookupPlatform);
}  // namespace

Seam<FrameLookupPlatform>& FrameLookupSeam() { return g_lookupSeam; }

/* The system keeps a module's function table ready from its load on. */
void WarmFrameLookup() {}

bool StepFrame(CONTEXT& context, bool, FrameFacts* facts)
{
    if (!OnStack(context.Rsp))
        return false;
    DWORD64 base = 0;
    PRUNTIME_FUNCTION function = FrameLookupSeam().Calls().find(context.Rip, &base, nullptr);
    if (!function) {
        /* A leaf function needs no unwind information: it has not moved the
         * stack, and its return address is on top. The system's unwinder
         * takes it so too. */
        context.Rip = *reinterpret_cast<const DWORD64*>(context.Rsp);
        context.Rsp += 8;
        return true;
    }
    void* data = nullptr;
    DWORD64 establisher = 0;
    PEXCEPTION_ROUTINE handler =
        RtlVirtualUnwind(UNW_FLAG_EHANDLER, base, context.Rip, function, &context, &data, &establisher, nullptr);
    if (IsCxxPersonality(reinterpret_cast<const void*>(handler))) {
        if (data) {
            facts->lsda = static_cast<const unsigned char*>(data);
            facts->regionStart = base + function->BeginAddress;
        }
    } else {
        facts->otherHandler = handler != nullptr;
    }
    return context.Rip == 0 || OnStack(context.Rsp);
}

/* Code without function tables is taken as a leaf by StepFrame already. */
bool StepByFramePointer(CONTEXT&) { return false; }

}  // namespace tk
