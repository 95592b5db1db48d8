/* cxx_state.h -- the C++ runtime's own exception state on a thread, which a
 * translated fault must leave as a C++ throw would. A fault may come while
 * another exception is on its way to its catch (a destructor that runs
 * during the unwinding faults), and a throw that skips frames
 * (throw_site.h) may skip one that was in the middle of a catch handler. */
#ifndef TOOLS_FAULTS_CXX_STATE_H
#define TOOLS_FAULTS_CXX_STATE_H

#include <windows.h>

namespace tk {

struct CxxThreadState;

/* The calling thread's, for all its fibers; outside any fault, as the
 * runtime makes it on its first use on a thread. */
const CxxThreadState* ThreadCxxState();

/* Whether an exception thrown on the thread has not reached its catch yet;
 * a read of the state, fit for the time of a fault. */
bool UnwindingAnother(const CxxThreadState* state);

/* Called on the faulting thread, outside the fault's handling, before a
 * throw that starts at the frame whose stack pointer is throwFrom and
 * skips the frames below it: ends each catch handler that ran in a
 * skipped frame, innermost first, as leaving it by a throw would have
 * ended it. */
void EndSkippedHandlers(DWORD_PTR throwFrom);

}  // namespace tk

#endif
