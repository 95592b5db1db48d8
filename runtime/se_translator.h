/* se_translator.h -- per-thread translation of processor faults into C++
 * exceptions, for a compiler whose exceptions know nothing of the system's
 * structured exceptions.
 *
 * One unhandled-exception filter serves the process. When a fault reaches it
 * on a thread that installed a translator, the filter keeps a copy of the
 * record and context and resumes the thread at a small stub that makes the
 * faulting instruction look like a call of a function that runs the
 * translator. The translator's throw then unwinds from the faulting frame
 * as from any call. Faults on other threads go to the filter that was in
 * place before, and so does a fault inside the filter itself. At the time
 * of a fault the filter allocates nothing (see FindThrowSite). */
#ifndef TOOLS_RUNTIME_SE_TRANSLATOR_H
#define TOOLS_RUNTIME_SE_TRANSLATOR_H

#include <windows.h>

namespace tk {

typedef void (*SeTranslator)(unsigned int code, EXCEPTION_POINTERS* p);

/* Installs fn for the calling thread; null removes it. The previous
 * translator is dropped. A translator should throw: if it returns, the fault
 * is raised again as non-continuable and takes the platform's default
 * course. */
void SetSeTranslator(SeTranslator fn);

/* The threads that hold a translator's block: those that installed one and
 * have neither removed it nor ended. For tests and diagnostics. */
long TranslatingThreads();

/* Keeps the library loaded for the rest of the process when another
 * filter was installed over ours since the first install: that filter may
 * chain to ours, which must not outlive the code it points into. For the
 * library's end (TkTerminate), ahead of an unload. */
void PinIfChainedOver();

/* For the library's unload, when no thread faults any more: gives the
 * process back the filter that was in place before the first install when
 * ours is still the current one, and otherwise pins the library as
 * PinIfChainedOver does; then frees the fiber-local slot with the blocks
 * that threads still hold, so that loading the library again does not use
 * up slots. */
void ReleaseTranslation();

}  // namespace tk

#endif
