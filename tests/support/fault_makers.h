/* fault_makers.h -- processor faults where a test says. Each is out of line
 * and opaque to the optimiser, so that it faults at its own instruction
 * and no call of it is folded away; each test program builds its own copy
 * with its own flags. */
#ifndef TOOLS_TESTS_FAULT_MAKERS_H
#define TOOLS_TESTS_FAULT_MAKERS_H

#include <stdint.h>

namespace tktest {

/* A divisor the compiler cannot see is zero. */
inline volatile int g_zero = 0;

/* The line of Divide's division, for the tests that look up a fault's
 * source line. */
inline const int kDivideLine = __LINE__ + 1;
__attribute__((noipa)) inline int Divide(int a, int b) { return a / b; }
__attribute__((noipa)) inline int ReadAt(uintptr_t address) { return *reinterpret_cast<volatile int*>(address); }
__attribute__((noipa)) inline void WriteAt(uintptr_t address) { *reinterpret_cast<volatile int*>(address) = 1; }

}  // namespace tktest

#endif
