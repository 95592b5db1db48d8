/* clock.cpp -- a millisecond clock on the performance counter. */
#include "tools/runtime.h"
#include "runtime/clock.h"

namespace tk {

namespace {

/* volatile and the clobbers keep every execution: the compiler may neither
 * merge nor drop the instruction. */
void Cpuid()
{
    unsigned a = 0, b, c = 0, d;
    __asm__ __volatile__("cpuid" : "+a"(a), "=b"(b), "+c"(c), "=d"(d) : : "memory");
}
}  // namespace

constexpr ClockPlatform kSystemClockPlatform = { QueryPerformanceFrequency, QueryPerformanceCounter, GetTickCount, Cpuid };

namespace {
Seam<ClockPlatform> g_seam(kSystemClockPlatform);
}  // namespace

Seam<ClockPlatform>& ClockSeam() { return g_seam; }

/* Several threads may make the first call. One of them calibrates; the
 * others wait the microseconds that one frequency query takes. The mode
 * turns to calibrated with a full barrier after the divisor is stored, so a
 * reader that sees it also sees the final divisor. */
bool MillisecondClock::Calibrate()
{
    for (;;) {
        LONG seen = InterlockedCompareExchange(&mode_, kCalibrating, kUncalibrated);
        if (seen == kCalibrated)
            return true;
        if (seen == kCalibrating) {
            Sleep(0);
            continue;
        }
        LARGE_INTEGER frequency;
        if (!ClockSeam().Calls().queryFrequency(&frequency)) {
            InterlockedExchange(&mode_, kUncalibrated);
            return false;
        }
        ticksPerMs_ = frequency.QuadPart / 1000;
        InterlockedExchange(&mode_, kCalibrated);
        return true;
    }
}

DWORD MillisecondClock::Read()
{
    if (mode_ != kCalibrated && !Calibrate())
        return 0;
    /* A counter under 1000 counts a second has no whole counts per
     * millisecond; the system's tick count stands in for every reading. */
    const ClockPlatform& platform = ClockSeam().Calls();
    if (ticksPerMs_ == 0)
        return platform.tickCount();
    LARGE_INTEGER count;
    if (!platform.queryCounter(&count))
        return platform.tickCount();
    return static_cast<DWORD>(count.QuadPart / ticksPerMs_);
}

namespace {
/* Constant-initialised, so usable from any static constructor. */
MillisecondClock g_clock;
}  // namespace

MillisecondClock& ProcessClock() { return g_clock; }

}  // namespace tk

unsigned long TkGetTickCount()
{
    return tk::ProcessClock().Read();
}
