/* processor.h -- the target's processor details for the fault translator:
 * its registers in a context, how a thread resumes at the stub, its
 * floating-point state, and how its import thunks and frame lookup look.
 * Each target's own file lies in its folder beside its stub and its frame
 * walk; only the fault translator includes them. */
#ifndef TOOLS_FAULTS_PROCESSOR_H
#define TOOLS_FAULTS_PROCESSOR_H

#if defined(__x86_64__)
#include "faults/x86_64/processor.h"
#elif defined(__i386__)
#include "faults/i686/processor.h"
#else
#error "faults: no processor details for this target"
#endif

#endif
