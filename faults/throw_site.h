/* throw_site.h -- where a translated fault can be thrown from without the
 * C++ runtime calling std::terminate on its way to a handler.
 *
 * A throw from the faulting instruction needs every frame up to the one
 * that catches to take it: each must have unwind information, and a frame
 * with a call-site table must list the address. A function built without
 * -fnon-call-exceptions lists only its calls, so a fault in its body is in
 * no site: such a frame is skipped, the throw starts from its caller, as
 * if the call into it had thrown, and the skipped frames' destructors do
 * not run. Code without unwind information that GCC's unwinder reads stops
 * it: on x86_64 every module has the system's tables, and a frame of a
 * system DLL or of another compiler is passed like any other; on i686 the
 * C runtime and the system DLLs have none, and a fault inside them, or
 * below them, is left to the platform. */
#ifndef TOOLS_FAULTS_THROW_SITE_H
#define TOOLS_FAULTS_THROW_SITE_H

#include <windows.h>

#include "frames/call_stack.h"

namespace tk {

enum class ThrowCourse {
    kAtFault,       /* throw from the faulting instruction */
    kAtCaller,      /* throw from the call site in ThrowWalk::site */
    kUntranslated   /* no catch clause can be reached soundly: leave the
                     * fault to the platform */
};

/* How far the walk goes. */
enum class WalkRule {
    /* In the system's search for a handler, before any frame's handler ran:
     * a frame with a handler of another kind (FrameFacts::otherHandler)
     * below the catch gets the fault first, and ends the walk. */
    kFirstChance,
    /* After every handler declined the fault: up to the catch, whatever
     * lies between. */
    kLastChance
};

/* A walk from one fault toward the frame that catches it. A first-chance
 * walk that meets a frame whose handler may take the fault stops past that
 * frame; when every handler declined, the last chance goes on from there,
 * so that no frame is stepped twice. It lives outside the handler's stack
 * (with the thread's other state), whose room a fault may have cut short. */
struct ThrowWalk {
    CONTEXT frame;        /* the registers of the next frame to judge */
    int depth;            /* frames judged so far */
    ThrowCourse course;   /* kAtFault, or kAtCaller from site */
    /* For kAtCaller: the registers of the frame that throws, as they are
     * after the call into the skipped frames returned; its program counter
     * is the return address of that call. */
    CONTEXT site;
    /* No catch can be reached any more: the walk cannot go on. */
    bool ended;
    /* Another exception was on its way to its catch at the fault. */
    bool unwinding;
    /* The code address of each frame judged, the fault's first: the start
     * of the fault's call stack, recorded while the frames still exist. */
    DWORD_PTR frames[kMostStackFrames];
    int recorded;
};

/* Starts a walk at the fault's own frame; unwinding tells whether another
 * exception is on its way to its catch on the thread. Then a frame that
 * the C++ runtime would not let a throw leave ends the walk: the throw
 * starts at the fault, and the runtime calls std::terminate at that frame,
 * as C++ says of an exception that leaves a destructor during unwinding.
 * No frame is skipped then: a skipped one might be the one whose exit
 * would end that unwinding. */
void StartWalk(const CONTEXT& fault, bool unwinding, ThrowWalk* walk);

/* Goes on with walk by rule up to the first frame that catches a
 * CRunTimeException*, and says where the throw must start. kUntranslated
 * when no catch can be reached by rule (walk->ended), and also when a
 * frame ends a first-chance walk (not ended: the last chance may go on).
 * Keeps the last-error code. Makes no allocation and waits on no lock. */
ThrowCourse ContinueWalk(ThrowWalk* walk, WalkRule rule);

/* Learns what the walk needs of the C++ runtime, and brings the frame
 * lookup up to date with the modules loaded now. Call it outside any
 * fault: before the first walk, and again when a thread installs a
 * translator. */
void PrepareThrowSites();

}  // namespace tk

#endif
