/* delay.cpp -- busy delays of a fixed count of serialising instructions. */
#include "tools/runtime.h"
#include "runtime/clock.h"

namespace tk {

void BusyDelay(const ClockPlatform& platform, volatile long* counter)
{
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

void TkDelay() { tk::BusyDelay(tk::kSystemClockPlatform, nullptr); }

void TkDelayInc(volatile long* counter)
{
    if (counter)
        tk::BusyDelay(tk::kSystemClockPlatform, counter);
}
