/* throw_site.cpp -- the walk from a fault to the frame that catches it. */
#include "base/last_error.h"
#include "faults/eh_table.h"
#include "frames/frame_walk.h"
#include "frames/processor.h"
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
    RefreshFrameLookup();
}

void StartWalk(const CONTEXT& fault, bool unwinding, ThrowWalk* walk)
{
    walk->frame = fault;
    walk->unwinding = unwinding;
    walk->depth = 0;
    walk->course = ThrowCourse::kAtFault;
    walk->ended = false;
    walk->recorded = 0;
}

ThrowCourse ContinueWalk(ThrowWalk* walk, WalkRule rule)
{
    LastErrorKeeper keep;
    /* Each frame is stepped in place: the walk copies a context only to
     * keep the place a throw starts from. */
    CONTEXT& frame = walk->frame;
    while (!walk->ended) {
        const DWORD_PTR pc = arch::ProgramCounter(frame);
        const bool first = walk->depth == 0;
        FrameFacts facts = {};
        /* The thread's first frame has no caller, and so no catch. */
        if (!pc || walk->depth == kMostFrames || !StepFrame(frame, first, &facts))
            break;
        ++walk->depth;
        if (walk->recorded < kMostStackFrames)
            walk->frames[walk->recorded++] = pc;
        /* The personality routine looks up the faulting instruction itself,
         * and the call instruction before a return address. */
        const DWORD_PTR at = first ? pc : pc - 1;
        const FrameVerdict verdict =
            facts.lsda ? JudgeFrame(facts.lsda, facts.regionStart, at) : FrameVerdict::kPasses;
        if (verdict == FrameVerdict::kCatches)
            return walk->course;
        if (verdict == FrameVerdict::kTerminates && walk->unwinding)
            return walk->course;
        if (verdict == FrameVerdict::kTerminates) {
            walk->site = frame;
            walk->course = ThrowCourse::kAtCaller;
        }
        if (rule == WalkRule::kFirstChance && facts.otherHandler)
            return ThrowCourse::kUntranslated;
    }
    walk->ended = true;
    return ThrowCourse::kUntranslated;
}

}  // namespace tk
