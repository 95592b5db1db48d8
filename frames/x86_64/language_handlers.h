/* language_handlers.h (x86_64) -- which exception handlers named by the
 * system's unwind information never take a fault: the system calls each
 * during its search for a handler, and the walk to a catch may pass a
 * frame whose handler would decline the fault anyway. */
#ifndef TOOLS_FRAMES_X86_64_LANGUAGE_HANDLERS_H
#define TOOLS_FRAMES_X86_64_LANGUAGE_HANDLERS_H

#include <windows.h>

namespace tk {

/* Learns the addresses of the handlers recognised by name, in the modules
 * loaded now; outside any fault. */
void LearnLanguageHandlers();

/* Whether handler, with its handler data, may take a fault in a frame of
 * the image at imageBase whose program counter is pc: false for GCC's C
 * personality routine; for the C runtime's structured handler when no
 * filter (__except) scope covers pc, as its termination handlers
 * (__finally) only run during an unwind; and for a handler that only
 * checks the frame and always answers "continue the search", as the
 * buffer check of code built with /GS does. */
bool MayTakeFault(const void* handler, const void* data, DWORD64 imageBase, DWORD64 pc);

/* The test of that last kind, on the handler's code: bytes hold count
 * bytes of it. */
bool OnlyChecksFrame(const unsigned char* code, size_t count);

/* The test of a structured handler's scope table (a count, then four
 * image-relative addresses a scope: begin, end, handler, and the target
 * of an __except block, 0 for a __finally) for a filter covering the
 * image-relative pc. */
bool ScopeFiltersAt(const unsigned char* table, DWORD pc);

}  // namespace tk

#endif
