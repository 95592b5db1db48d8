/* clock.h -- the millisecond clock behind TkGetTickCount. */
#ifndef TOOLS_RUNTIME_CLOCK_H
#define TOOLS_RUNTIME_CLOCK_H

#include <windows.h>

namespace tk {

/* The platform calls of the clock, so that tests can take the counter away
 * or make a read fail. */
struct ClockPlatform {
    BOOL (WINAPI* queryFrequency)(LARGE_INTEGER* frequency);
    BOOL (WINAPI* queryCounter)(LARGE_INTEGER* count);
    DWORD (WINAPI* tickCount)();
};

extern const ClockPlatform kSystemClockPlatform;

class MillisecondClock {
public:
    constexpr explicit MillisecondClock(const ClockPlatform& platform)
        : platform_(platform), mode_(kUncalibrated), ticksPerMs_(0) {}

    /* Milliseconds on the counter's origin, modulo 2^32; calibrates on the
     * first call, and again after a call that found no counter. */
    DWORD Read();

    bool Calibrated() const { return mode_ == kCalibrated; }
    /* Counter counts per millisecond; valid once Calibrated(). */
    LONGLONG TicksPerMillisecond() const { return ticksPerMs_; }

private:
    enum : LONG { kUncalibrated = 0, kCalibrated = 1, kCalibrating = 2 };

    bool Calibrate();

    const ClockPlatform& platform_;
    volatile LONG mode_;
    LONGLONG ticksPerMs_;
};

/* The process's clock. */
MillisecondClock& ProcessClock();

}  // namespace tk

#endif
