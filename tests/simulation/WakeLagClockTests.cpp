// The soak's punctuality check: the lag a clock's wake-ups measure, and which failing runs it
// makes inconclusive.
#include "simulation/WakeLagClock.h"

#include <gtest/gtest.h>

using namespace vfu;
using namespace vfu::simulation;

TEST (WakeLagClock, a_deliberately_starved_clock_measures_its_delay_times_the_speed_on_every_kind_of_wake_up)
{
    ScaledClock scaled (100.0);
    WakeLagClock starved (scaled, 30.0); // 30 real ms: 3000 clock ms at x100
    EXPECT_EQ (starved.getSpeed(), 100.0);
    EXPECT_EQ (starved.getLongestLagMilliseconds(), 0);

    starved.sleep (100);
    EXPECT_GE (starved.getLongestLagMilliseconds(), 3000);

    WakeLagClock waits (scaled, 30.0);
    juce::WaitableEvent never;
    EXPECT_FALSE (waits.wait (never, 100));
    EXPECT_GE (waits.getLongestLagMilliseconds(), 3000);

    // A signalled wait is no timed wake-up and measures nothing.
    WakeLagClock signalled (scaled, 30.0);
    juce::WaitableEvent event;
    event.signal();
    EXPECT_TRUE (signalled.wait (event, 100000));
    EXPECT_EQ (signalled.getLongestLagMilliseconds(), 0);

    // The engine's interruptible sleeps, on a thread of its own.
    // A thread owned here and joined before the clock goes (a launched thread deletes itself and
    // could outlive the test's locals).
    struct Sleeper final : juce::Thread
    {
        explicit Sleeper (WakeLagClock& c) : Thread ("sleeper"), clock (c) {}
        void run() override { clock.sleepUnlessThreadExits (100); }
        WakeLagClock& clock;
    };

    WakeLagClock onThread (scaled, 30.0);
    Sleeper sleeper (onThread);
    sleeper.startThread();
    const auto end = juce::Time::getMillisecondCounter() + 10000;
    while (onThread.getLongestLagMilliseconds() == 0 && juce::Time::getMillisecondCounter() < end)
        juce::Thread::sleep (5);
    sleeper.stopThread (10000);
    EXPECT_GE (onThread.getLongestLagMilliseconds(), 3000);
}

TEST (WakeLagClock, a_lag_of_half_a_time_out_or_more_makes_a_run_starved_naming_the_longest_such_time_out)
{
    const auto timeouts = getUpdateTimeouts (45);
    ASSERT_EQ (timeouts.size(), 2u);
    EXPECT_EQ (timeouts[0].clockMilliseconds, 500); // the alternative inquiry's reply window
    EXPECT_EQ (timeouts[1].clockMilliseconds, 45000);

    EXPECT_EQ (describeStarvation (0, 100.0, timeouts), "");
    EXPECT_EQ (describeStarvation (249, 100.0, timeouts), "");
    EXPECT_EQ (describeStarvation (250, 100.0, timeouts),
               "starved: wake-ups up to 250 ms late at clock x100, near the 500 ms reply window");
    EXPECT_EQ (describeStarvation (40895, 100.0, timeouts),
               "starved: wake-ups up to 40895 ms late at clock x100, near the 45000 ms state time-out");
}
