/* handler_gate.h -- the vectored handler as the system's list holds it: a
 * few instructions in a page of their own, made once in the process for
 * each library file and never unmapped, which count each call and pass it
 * on to the library's handler while the library is loaded.
 *
 * The system calls a vectored handler after it has left the lock of its
 * list, so a handler removed from the list may still be called once by a
 * thread that picked it before; the library's unload cannot wait for a
 * call that has not begun. The gate stays in the list for the process's
 * life: each load of the library finds it again by name and sets its
 * target, and the unload clears the target and waits until the calls that
 * the gate counted have returned, after which none can reach the library's
 * code. */
#ifndef TOOLS_FAULTS_HANDLER_GATE_H
#define TOOLS_FAULTS_HANDLER_GATE_H

#include <windows.h>

namespace tk {

/* Points the process's gate at handler, making the gate and adding it to
 * the end of the vectored handlers' list when the process has none yet;
 * false when it cannot be made. */
bool OpenHandlerGate(PVECTORED_EXCEPTION_HANDLER handler);

/* Points the gate at nothing and waits until no call that it passed on
 * runs any more. */
void CloseHandlerGate();

}  // namespace tk

#endif
