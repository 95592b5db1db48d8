/* Plain C built with -fexceptions, as a C library that a host links may
 * be: a local with a cleanup gives the frame GCC's C personality routine,
 * and the cleanup runs when an exception leaves the frame. */
#include "fault_c_cleanup.h"

int g_cCleanups;

static void CountCleanup(int* guard)
{
    (void)guard;
    ++g_cCleanups;
}

int CallWithCleanup(int (*f)(int, int), int a, int b)
{
    __attribute__((cleanup(CountCleanup))) int guard = 0;
    return f(a, b) + guard;
}
