/* delay.cpp -- busy delays of a fixed count of serialising instructions. */
#include "tools/runtime.h"

namespace {

const int kPasses = 200000;

/* CPUID leaf 0, results dropped. volatile and the clobbers keep every
 * execution: the compiler may neither merge nor drop the instruction. */
inline void Serialise()
{
    unsigned a = 0, b, c = 0, d;
    __asm__ __volatile__("cpuid" : "+a"(a), "=b"(b), "+c"(c), "=d"(d) : : "memory");
}

}  // namespace

void TkDelay()
{
    for (int i = 0; i < kPasses; ++i)
        Serialise();
}

void TkDelayInc(volatile long* counter)
{
    for (int i = 0; i < kPasses; ++i) {
        InterlockedIncrement(counter);
        Serialise();
    }
}
