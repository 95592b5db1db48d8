/* The clock's calibration and fallbacks, over a stand-in counter. */
#include <gtest/gtest.h>

#include <windows.h>

#include "runtime/clock.h"

namespace {

/* One stand-in counter for all tests; each test sets it up. */
struct FakeCounter {
    bool hasFrequency;
    LONGLONG frequency;
    bool readFails;
    LONGLONG count;
    DWORD ticks;
    volatile LONG frequencyQueries;
    DWORD frequencyDelayMs;
} g_fake;

BOOL WINAPI FakeFrequency(LARGE_INTEGER* f)
{
    InterlockedIncrement(&g_fake.frequencyQueries);
    if (g_fake.frequencyDelayMs)
        Sleep(g_fake.frequencyDelayMs);
    f->QuadPart = g_fake.frequency;
    return g_fake.hasFrequency;
}

BOOL WINAPI FakeCounterRead(LARGE_INTEGER* c)
{
    c->QuadPart = g_fake.count;
    return !g_fake.readFails;
}

DWORD WINAPI FakeTicks() { return g_fake.ticks; }

/* Counts the serialising instructions, and notes where a counter that the
 * delay increments stood at each. */
int g_serialised;
volatile long g_delayCounter;
bool g_incrementedFirst;
void FakeSerialise()
{
    ++g_serialised;
    g_incrementedFirst = g_incrementedFirst && g_delayCounter == 100 + g_serialised;
}

const tk::ClockPlatform kFake = { FakeFrequency, FakeCounterRead, FakeTicks, FakeSerialise };

class Clock : public ::testing::Test {
protected:
    tk::UsingPlatform<tk::ClockPlatform> use_{ tk::ClockSeam(), kFake };

    void SetUp() override
    {
        g_fake.hasFrequency = true;
        g_fake.frequency = 10000000;
        g_fake.readFails = false;
        g_fake.count = 0;
        g_fake.ticks = 0;
        g_fake.frequencyQueries = 0;
        g_fake.frequencyDelayMs = 0;
    }
};

TEST_F(Clock, DivisorIsTheFrequencyOverAThousandTruncated)
{
    g_fake.frequency = 3579545;
    g_fake.count = 3579545;   /* one second of counter time */
    tk::MillisecondClock slow;
    EXPECT_EQ(slow.Read(), 1000u) << "3,579,545 / 3,579 = 1,000.15...";
    EXPECT_EQ(slow.TicksPerMillisecond(), 3579);
    g_fake.count = 3579545LL * 3600;   /* an hour: the clock runs slightly fast */
    EXPECT_EQ(slow.Read(), 3600548u);

    g_fake.frequency = 10000000;
    g_fake.count = 123456789012LL;
    tk::MillisecondClock exact;
    EXPECT_EQ(exact.Read(), 12345678u) << "the very first call reads the counter, not 0";
    EXPECT_EQ(exact.TicksPerMillisecond(), 10000);
}

TEST_F(Clock, NoCounterReadsZeroAndRetriesEveryCall)
{
    g_fake.hasFrequency = false;
    g_fake.ticks = 555;
    tk::MillisecondClock clock;
    EXPECT_EQ(clock.Read(), 0u);
    EXPECT_EQ(clock.Read(), 0u);
    EXPECT_EQ(g_fake.frequencyQueries, 2);
    EXPECT_FALSE(clock.Calibrated());

    g_fake.hasFrequency = true;   /* a later query that succeeds calibrates */
    g_fake.count = 50000;
    EXPECT_EQ(clock.Read(), 5u);
    EXPECT_TRUE(clock.Calibrated());
    clock.Read();
    EXPECT_EQ(g_fake.frequencyQueries, 3) << "calibration happens once";
}

TEST_F(Clock, AFailedReadFallsBackToTheSystemTickCountForThatCall)
{
    g_fake.count = 70000;
    tk::MillisecondClock clock;
    EXPECT_EQ(clock.Read(), 7u);
    g_fake.readFails = true;
    g_fake.ticks = 987654;
    EXPECT_EQ(clock.Read(), 987654u);
    g_fake.readFails = false;
    EXPECT_EQ(clock.Read(), 7u);
    EXPECT_TRUE(clock.Calibrated());
}

TEST_F(Clock, DifferencesStayRightAcrossTheWrap)
{
    tk::MillisecondClock clock;
    g_fake.count = (0x100000000LL - 10) * 10000;
    DWORD before = clock.Read();
    EXPECT_EQ(before, 0xFFFFFFF6u);
    g_fake.count = (0x100000000LL + 5) * 10000;
    DWORD after = clock.Read();
    EXPECT_EQ(after, 5u);
    EXPECT_EQ(after - before, 15u);
}

TEST_F(Clock, ACounterSlowerThanAThousandCountsUsesTheTickCount)
{
    g_fake.frequency = 999;
    g_fake.count = 5000;
    g_fake.ticks = 4242;
    tk::MillisecondClock clock;
    EXPECT_EQ(clock.Read(), 4242u) << "no division by a zero divisor";
    g_fake.ticks = 4243;
    EXPECT_EQ(clock.Read(), 4243u);
}

struct RaceArgs {
    tk::MillisecondClock* clock;
    HANDLE start;
    DWORD reading;
};

DWORD WINAPI FirstRead(void* p)
{
    RaceArgs* args = static_cast<RaceArgs*>(p);
    WaitForSingleObject(args->start, INFINITE);
    args->reading = args->clock->Read();
    return 0;
}

TEST_F(Clock, FirstCallsFromSeveralThreadsCalibrateOnce)
{
    g_fake.frequencyDelayMs = 50;   /* widen the window in which others arrive */
    g_fake.count = 90000000;
    tk::MillisecondClock clock;
    HANDLE start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    RaceArgs args[8];
    HANDLE threads[8];
    for (int i = 0; i < 8; ++i) {
        args[i] = { &clock, start, 0 };
        threads[i] = CreateThread(nullptr, 0, FirstRead, &args[i], 0, nullptr);
    }
    SetEvent(start);
    WaitForMultipleObjects(8, threads, TRUE, INFINITE);
    for (int i = 0; i < 8; ++i) {
        CloseHandle(threads[i]);
        EXPECT_EQ(args[i].reading, 9000u) << "thread " << i << " read an unfinished calibration";
    }
    CloseHandle(start);
    EXPECT_EQ(g_fake.frequencyQueries, 1);
}

TEST(BusyDelay, RunsExactlyItsPassesAndIncrementsBeforeEach)
{
    tk::UsingPlatform<tk::ClockPlatform> use(tk::ClockSeam(), kFake);
    g_serialised = 0;
    tk::BusyDelay(nullptr);
    EXPECT_EQ(g_serialised, 200000);

    g_serialised = 0;
    g_delayCounter = 100;
    g_incrementedFirst = true;
    tk::BusyDelay(&g_delayCounter);
    EXPECT_EQ(g_serialised, 200000);
    EXPECT_EQ(g_delayCounter, 100 + 200000);
    EXPECT_TRUE(g_incrementedFirst) << "each increment comes before its instruction";
}

}  // namespace
