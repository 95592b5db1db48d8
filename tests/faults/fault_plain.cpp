/* Faulting code built as most host code is: without -fnon-call-exceptions.
 * A catch in a caller must still see the fault. */
#include <stdlib.h>
#include <string.h>

#include <string>

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

/* May throw, as far as the compiler knows, so the string's cleanup needs a
 * call-site table around the call. */
__attribute__((noinline)) void PlainTouch(std::string& s)
{
    if (g_plainZero == 42)
        throw 42;
    s[0] = 'y';
}

/* Throws as far as the compiler knows, and in fact. */
__attribute__((noinline)) void PlainTouchThrowing()
{
    if (g_plainZero == 0)
        throw 42;
}

int PlainWithString(int divisor)
{
    std::string text(40, 'x');
    PlainTouch(text);
    return static_cast<int>(text.size()) / divisor + text[0];
}

size_t PlainLength(const char* text)
{
    size_t n = strlen(text);
    return n * 3 + static_cast<size_t>(g_plainZero);
}

static int CompareDividing(const void* a, const void* b)
{
    return *static_cast<const int*>(a) / g_plainZero - *static_cast<const int*>(b);
}

void PlainSortDividing(int* values, int count)
{
    qsort(values, static_cast<size_t>(count), sizeof *values, CompareDividing);
}

int PlainDivideInCatch(int divisor)
{
    try {
        PlainTouchThrowing();
    } catch (int thrown) {
        return thrown / divisor;
    }
    return 0;
}
