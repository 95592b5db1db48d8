/* Faulting code built as most host code is: without -fnon-call-exceptions.
 * A catch in a caller must still see the fault. */
#include "fault_plain.h"

volatile int g_plainZero = 0;

int PlainDivide(int a)
{
    return a / g_plainZero;
}

int PlainReadThrough(const int* p)
{
    return *p + 1;
}
