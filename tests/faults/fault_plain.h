#ifndef TOOLS_TESTS_FAULT_PLAIN_H
#define TOOLS_TESTS_FAULT_PLAIN_H

#include <stddef.h>

/* All fault; they live in a file built without -fnon-call-exceptions, as
 * most host code is. */
int PlainDivide(int a);
int PlainReadThrough(const int* p);
/* Has cleanups (a std::string) and so a call-site table, which lists its
 * calls but not the faulting division. */
int PlainWithString(int divisor);
/* Faults inside the C runtime's strlen, called (not jumped to) from here. */
size_t PlainLength(const char* text);
/* Faults inside a comparison callback that the C runtime's qsort calls. */
void PlainSortDividing(int* values, int count);
/* Faults in the catch block of an exception of its own. */
int PlainDivideInCatch(int divisor);

#endif
