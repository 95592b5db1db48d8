/* frames_rtl_unwind.cpp (x86_64) -- stepping a faulting thread's frames with the
 * system's own unwinder and function tables, which every image of the
 * platform and of GCC carries. A frame's exception handler is the language
 * handler that its unwind information names.
 *
 * The lookup is safe at the time of a fault because the system's own
 * search for a handler makes the same calls, on the same thread, for the
 * same frames, right after the first-chance handler returns: whatever
 * RtlLookupFunctionEntry waits on (the loader's table of images, and the
 * callbacks of code that registers tables of its own) that search waits on
 * too, and it allocates nothing. A thread that faults while it holds such
 * a lock cannot have its fault dispatched at all. */
#include "frames/frame_walk.h"
#include "frames/processor.h"
#include "frames/x86_64/language_handlers.h"

namespace tk {

namespace {

bool OnStack(DWORD64 address) { return OnThreadStack(address, sizeof(DWORD64)); }

}  // namespace

constexpr FrameLookupPlatform kSystemFrameLookupPlatform = { RtlLookupFunctionEntry };

namespace {
Seam<FrameLookupPlatform> g_lookupSeam(kSystemFrameLookupPlatform);
}  // namespace

Seam<FrameLookupPlatform>& FrameLookupSeam() { return g_lookupSeam; }

/* The system keeps a module's function table ready from its load on; what
 * the walk learns of the modules is which handlers they export. */
void RefreshFrameLookup() { LearnLanguageHandlers(); }
void FrameLookupModuleLoaded(const void*) { LearnLanguageHandlers(); }
void FrameLookupModuleUnloaded(const void*) { LearnLanguageHandlers(); }
void ReleaseFrameLookup() {}

bool StepFrame(CONTEXT& context, bool, FrameFacts* facts)
{
    if (!OnStack(context.Rsp))
        return false;
    DWORD64 base = 0;
    const DWORD64 pc = context.Rip;
    const DWORD64 sp = context.Rsp;
    PRUNTIME_FUNCTION function = FrameLookupSeam().Calls().find(pc, &base, nullptr);
    if (!function) {
        /* A leaf function needs no unwind information: it has not moved the
         * stack, and its return address is on top. The system's unwinder
         * takes it so too. */
        context.Rip = *reinterpret_cast<const DWORD64*>(context.Rsp);
        context.Rsp += 8;
        facts->otherHandler = HandlerRecordIn(sp, context.Rsp);
        return true;
    }
    void* data = nullptr;
    DWORD64 establisher = 0;
    PEXCEPTION_ROUTINE handler =
        RtlVirtualUnwind(UNW_FLAG_EHANDLER, base, pc, function, &context, &data, &establisher, nullptr);
    if (IsCxxPersonality(reinterpret_cast<const void*>(handler))) {
        if (data) {
            facts->lsda = static_cast<const unsigned char*>(data);
            facts->regionStart = base + function->BeginAddress;
        }
    } else {
        facts->otherHandler = handler && MayTakeFault(reinterpret_cast<const void*>(handler), data, base, pc);
    }
    facts->otherHandler = facts->otherHandler || HandlerRecordIn(sp, context.Rsp);
    return context.Rip == 0 || OnStack(context.Rsp);
}

bool HasUnwindTables(DWORD_PTR pc)
{
    DWORD64 base = 0;
    return FrameLookupSeam().Calls().find(pc, &base, nullptr) != nullptr;
}

/* Code without function tables is taken as a leaf by StepFrame already. */
bool StepByFramePointer(CONTEXT&) { return false; }

}  // namespace tk
