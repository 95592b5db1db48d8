#ifndef TOOLS_TESTS_FAULT_PLAIN_H
#define TOOLS_TESTS_FAULT_PLAIN_H

/* Both fault; they live in a file built without -fnon-call-exceptions. */
int PlainDivide(int a);
int PlainReadThrough(const int* p);

#endif
