/* processor.h -- the target's processor details for the fault translator:
 * its registers in a context, how a thread resumes at the stub, its
 * floating-point state, and how its import thunks and frame lookup look.
 * Each target has its own file of them beside this one, and a folder of
 * its own for its stub and frame walk. */
#ifndef TOOLS_FRAMES_PROCESSOR_H
#define TOOLS_FRAMES_PROCESSOR_H

#if defined(__x86_64__)
#include "frames/processor_x86_64.h"
#elif defined(__i386__)
#include "frames/processor_i686.h"
#else
#error "faults: no processor details for this target"
#endif

#endif
