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

namespace tk {

enum class ThrowCourse {
    kAtFault,       /* throw from the faulting instruction */
    kAtCaller,      /* throw from the call site in site->context */
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

struct ThrowSite {
    /* For kAtCaller: the registers of the frame that throws, as they are
     * after the call into the skipped frames returned; its program counter
     * is the return address of that call. */
    CONTEXT context;
};

/* Walks the faulting thread's frames from fault up to the first one that
 * catches a CRunTimeException*, by rule, and says where the throw must
 * start; kUntranslated also when a frame ends a first-chance walk. Keeps
 * the last-error code. Makes no allocation, and waits on no lock that an
 * allocation holds, as long as PrepareThrowSites ran after the last module
 * that registers unwind tables with GCC's unwinder was loaded; meant for
 * the fault handlers. */
ThrowCourse FindThrowSite(const CONTEXT& fault, WalkRule rule, ThrowSite* site);

/* Learns what the walk needs of the C++ runtime, and has the frame lookup
 * do the work that it would otherwise do, allocating, in the first walk
 * after modules were loaded. Call it outside any fault: before the first
 * walk, and again when a thread installs a translator. */
void PrepareThrowSites();

}  // namespace tk

#endif
