/* se_translator.h -- per-thread translation of processor faults into C++
 * exceptions, for a compiler whose exceptions know nothing of the system's
 * structured exceptions.
 *
 * The platform compiler's translator runs during the system's search for
 * a handler, when the search reaches a frame with a catch; vectored
 * handlers, and handlers of other kinds in deeper frames, have had the
 * fault by then. Here a vectored handler, registered at the end of the
 * list, walks the faulting thread's frames up to the nearest catch, and
 * takes the fault only when no frame below that catch has a handler that
 * may take it; otherwise the search goes on, and the process's
 * unhandled-exception filter is the last chance, going on with the same
 * walk past the handlers that declined. Either keeps a copy of the record
 * and context and resumes the thread at a small stub that makes the
 * faulting instruction look like a call of a function that runs the
 * translator. The translator's throw then unwinds from the faulting frame
 * as from any call. Faults on other threads go on as without us (the
 * filter passes them to the filter that was in place before), and so does
 * a fault inside our own handling of one, and one with too little stack
 * left for the walk and the throw. At the time of a fault neither
 * allocates nor waits on a lock (see ContinueWalk). */
#ifndef TOOLS_FAULTS_SE_TRANSLATOR_H
#define TOOLS_FAULTS_SE_TRANSLATOR_H

#include <windows.h>

namespace tk {

typedef void (*SeTranslator)(unsigned int code, EXCEPTION_POINTERS* p);

/* Installs fn for the calling thread, and so for every fiber that runs on
 * it; null removes it. The previous translator is dropped. A translator
 * should throw: if it returns, the fault is raised again as
 * non-continuable and takes the platform's default course. */
void SetSeTranslator(SeTranslator fn);

/* Called by the process's filter (ours) for every exception that it passes
 * on to the filter that was in place before it, on any thread, just before
 * it does: a fault that no catch took, translated or not. True when the
 * exception is dealt with and the thread resumes with p's context (the
 * filter then answers EXCEPTION_CONTINUE_EXECUTION). It may run with
 * almost no stack left: a stack overflow comes here too. */
typedef bool (*UnhandledWatch)(EXCEPTION_POINTERS* p);

/* Installs the handlers as the first translator's install does, for every
 * thread whether or not it installs a translator, and has the filter call
 * watch from now on; null stops the calls. False when the handlers cannot
 * be installed, or were released (ReleaseTranslation). */
bool WatchUnhandled(UnhandledWatch watch);

/* The threads that hold a translator's block: those that installed one and
 * have neither removed it nor ended. For tests and diagnostics. */
long TranslatingThreads();

/* Keeps the library loaded for the rest of the process when another
 * filter was installed over ours since the first install: that filter may
 * chain to ours, which must not outlive the code it points into. Finding
 * out replaces the process's filter for a moment with one that passes
 * every exception on to the filter it replaced. For the library's end
 * (TkTerminate), ahead of an unload. */
void PinIfChainedOver();

/* For the library's unload: gives the process back the filter that was in
 * place before the first install when ours is still the current one, and
 * otherwise pins the library as PinIfChainedOver does; closes the
 * vectored handler's gate (faults/handler_gate.h); waits until no call of our handlers that started is
 * still running on another thread; then frees the thread slots with the
 * blocks that threads still hold, so that loading the library again does
 * not use up slots. A thread that is still throwing a translated fault
 * runs the library's code until its catch: free the library only when
 * every thread that installed a translator removed it or ended. */
void ReleaseTranslation();

/* Takes the frames recorded at the fault that the calling thread's
 * translator is raising: copies up to most of them into frames, returns
 * how many, and leaves none to take. -1 when the thread raises no
 * translated fault, or its frames were taken already: the exception that
 * the translator makes takes them, and no other. */
int TakeTranslatedFaultStack(DWORD_PTR* frames, int most);

}  // namespace tk

#endif
