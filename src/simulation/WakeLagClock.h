#pragma once

#include "core/Clock.h"

#include <atomic>
#include <vector>

namespace vfu
{
// A clock that measures how late its timed wake-ups come: every sleep, and every wait that ran to
// its time-out, is timed in real milliseconds, and the delay beyond what was asked, times the
// clock's speed, is the lag in clock milliseconds. At clock x100, 10 ms of real scheduling delay
// is one whole clock second: a soak run's verdict is only as good as this lag is small.
//
// `extraRealDelayMilliseconds` adds that much real delay to every timed wake-up: a deliberately
// starved clock, as a machine under heavy load would give.
class WakeLagClock final : public Clock
{
public:
    explicit WakeLagClock (Clock& clockToMeasure, double extraRealDelayMilliseconds = 0.0);

    juce::int64 now() override;
    void sleep (int milliseconds) override;
    bool sleepUnlessThreadExits (int milliseconds) override;
    bool wait (juce::WaitableEvent& event, int milliseconds) override;
    double getSpeed() const override;

    // The longest lag seen so far, in clock milliseconds.
    juce::int64 getLongestLagMilliseconds() const noexcept { return longestLag.load(); }

private:
    void wokeUp (double realStart, int clockMilliseconds);

    Clock& clock;
    const double extraRealDelay;
    std::atomic<juce::int64> longestLag{ 0 };
};

namespace simulation
{
// A time-out that a simulated update depends on: a lag near it can make a fault-free run fail.
struct TimeoutDependency
{
    juce::String name;
    int clockMilliseconds = 0;
};

// The time-outs of every update: the reply window of a poll (the shortest the port selector waits
// for a reply) and the definitions' state time-out.
std::vector<TimeoutDependency> getUpdateTimeouts (int stateTimeoutSeconds = 45);

// Empty when the longest lag stayed below half of every time-out; otherwise why the run's verdict
// cannot be trusted, naming the longest time-out that the lag came near, e.g.
// "starved: wake-ups up to 1200 ms late at clock x100, near the 1000 ms reply window".
juce::String describeStarvation (juce::int64 longestLagMilliseconds, double speed,
                                 const std::vector<TimeoutDependency>& timeouts);
} // namespace simulation
} // namespace vfu
