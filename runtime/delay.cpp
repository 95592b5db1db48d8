/* delay.cpp -- busy delays of a fixed count of serialising instructions. */
#include "tools/runtime.h"
#include "runtime/clock.h"

namespace tk {

void BusyDelay(volatile long* counter)
{
    const ClockPlatform& platform = ClockSeam().Calls();
    /* Two loops rather than a test in one: the plain delay's passes stay
     * the bare instruction. */
    if (!counter) {
        for (int i = 0; i < kDelayPasses; ++i)
            platform.serialise();
        return;
    }
    for (int i = 0; i < kDelayPasses; ++i) {
        InterlockedIncrement(counter);
        platform.serialise();
    }
}

}  // namespace tk

void TkDelay() { tk::BusyDelay(nullptr); }

void TkDelayInc(volatile long* counter)
{
    if (counter)
        tk::BusyDelay(counter);
}
