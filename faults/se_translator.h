/* se_translator.h -- per-thread translation of processor faults into C++
 * exceptions, for a compiler whose exceptions know nothing of the system's
 * structured exceptions.
 *
 * The platform compiler's translator runs during the system's search for
 * a handler, when the search reaches a frame with a catch; handlers of
 * other kinds in deeper frames have had the fault by then. Here a
 * first-chance vectored handler walks the faulting thread's frames up to
 * the nearest catch, and takes the fault only when no frame below that
 * catch has a handler of another kind; otherwise the search goes on, and
 * the process's unhandled-exception filter is the last chance, walking up
 * to the catch past the handlers that declined. Either keeps a copy of the
 * record and context and resumes the thread at a small stub that makes
 * the faulting instruction look like a call of a function that runs the
 * translator. The translator's throw then unwinds from the faulting frame
 * as from any call. Faults on other threads go on as without us (the
 * filter passes them to the filter that was in place before), and so does
 * a fault inside our own handling of one. At the time of a fault neither
 * allocates (see FindThrowSite). */
#ifndef TOOLS_FAULTS_SE_TRANSLATOR_H
#define TOOLS_FAULTS_SE_TRANSLATOR_H

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
 * PinIfChainedOver does; then removes the first-chance handler and frees
 * the fiber-local slot with the blocks that threads still hold, so that
 * loading the library again does not use up slots. */
void ReleaseTranslation();

}  // namespace tk

#endif
