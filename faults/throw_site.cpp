/* throw_site.cpp -- the walk from a fault to the frame that catches it. */
#include "base/last_error.h"
#include "faults/eh_table.h"
#include "faults/frame_walk.h"
#include "faults/processor.h"
#include "faults/throw_site.h"

namespace tk {

namespace {

/* Deeper than any host's catch lies from its fault in practice; a walk
 * that finds none by then leaves the fault untranslated. */
const int kMostFrames = 4096;

}  // namespace

void PrepareThrowSites()
{
    LearnPersonality();
    WarmFrameLookup();
}

ThrowCourse FindThrowSite(const CONTEXT& fault, WalkRule rule, ThrowSite* site)
{
    LastErrorKeeper keep;
    CONTEXT frame = fault;
    ThrowCourse course = ThrowCourse::kAtFault;
    for (int depth = 0; depth < kMostFrames; ++depth) {
        const DWORD_PTR pc = arch::ProgramCounter(frame);
        if (!pc)
            return ThrowCourse::kUntranslated;   /* the thread's first frame: no catch */
        FrameFacts facts = {};
        CONTEXT caller = frame;
        if (!StepFrame(caller, depth == 0, &facts))
            return ThrowCourse::kUntranslated;
        /* The personality routine looks up the faulting instruction itself,
         * and the call instruction before a return address. */
        const DWORD_PTR at = depth == 0 ? pc : pc - 1;
        const FrameVerdict verdict =
            facts.lsda ? JudgeFrame(facts.lsda, facts.regionStart, at) : FrameVerdict::kPasses;
        if (verdict == FrameVerdict::kCatches)
            return course;
        if (rule == WalkRule::kFirstChance && facts.otherHandler)
            return ThrowCourse::kUntranslated;
        if (verdict == FrameVerdict::kTerminates) {
            site->context = caller;
            course = ThrowCourse::kAtCaller;
        }
        frame = caller;
    }
    return ThrowCourse::kUntranslated;
}

}  // namespace tk
