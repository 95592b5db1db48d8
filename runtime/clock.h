/* clock.h -- the millisecond clock behind TkGetTickCount. */
#ifndef TOOLS_RUNTIME_CLOCK_H
#define TOOLS_RUNTIME_CLOCK_H

#include <windows.h>

#include "base/seam.h"

namespace tk {

/* The platform calls of the clock and the busy delays, so that tests can
 * take the counter away, make a read fail, or count the serialising
 * instructions. */
struct ClockPlatform {
    BOOL (WINAPI* queryFrequency)(LARGE_INTEGER* frequency);
    BOOL (WINAPI* queryCounter)(LARGE_INTEGER* count);
    DWORD (WINAPI* tickCount)();
    /* One serialising instruction (CPUID leaf 0), its results dropped. */
    void (*serialise)();
};

extern const ClockPlatform kSystemClockPlatform;

Seam<ClockPlatform>& ClockSeam();

class MillisecondClock {
public:
    constexpr MillisecondClock() : mode_(kUncalibrated), ticksPerMs_(0) {}

    /* Milliseconds on the counter's origin, modulo 2^32; calibrates on the
     * first call, and again after a call that found no counter. */
    DWORD Read();

    bool Calibrated() const { return mode_ == kCalibrated; }
    /* Counter counts per millisecond; valid once Calibrated(). */
    LONGLONG TicksPerMillisecond() const { return ticksPerMs_; }

private:
    enum : LONG { kUncalibrated = 0, kCalibrated = 1, kCalibrating = 2 };

    bool Calibrate();

    volatile LONG mode_;
    LONGLONG ticksPerMs_;
};

/* The process's clock. */
MillisecondClock& ProcessClock();

/* The passes of one busy delay. */
const int kDelayPasses = 200000;

/* A busy delay: kDelayPasses serialising instructions, each preceded by an
 * interlocked increment of *counter when counter is given. */
void BusyDelay(volatile long* counter);

}  // namespace tk

#endif
