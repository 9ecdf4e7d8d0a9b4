#include "simulation/WakeLagClock.h"

#include "midi/MIDIPortsSelector.h"

#include <cmath>

namespace vfu
{
WakeLagClock::WakeLagClock (Clock& clockToMeasure, double extraRealDelayMilliseconds)
    : clock (clockToMeasure), extraRealDelay (juce::jmax (0.0, extraRealDelayMilliseconds))
{
}

juce::int64 WakeLagClock::now()
{
    return clock.now();
}

double WakeLagClock::getSpeed() const
{
    return clock.getSpeed();
}

void WakeLagClock::sleep (int milliseconds)
{
    const auto start = juce::Time::getMillisecondCounterHiRes();
    clock.sleep (milliseconds);
    wokeUp (start, milliseconds);
}

bool WakeLagClock::sleepUnlessThreadExits (int milliseconds)
{
    const auto start = juce::Time::getMillisecondCounterHiRes();
    const bool slept = clock.sleepUnlessThreadExits (milliseconds);
    if (slept)
        wokeUp (start, milliseconds);
    return slept;
}

bool WakeLagClock::wait (juce::WaitableEvent& event, int milliseconds)
{
    const auto start = juce::Time::getMillisecondCounterHiRes();
    const bool signalled = clock.wait (event, milliseconds);

    // Only a wait that ran to its time-out is a timed wake-up; a signal may come at any moment.
    if (!signalled && milliseconds >= 0)
        wokeUp (start, milliseconds);
    return signalled;
}

void WakeLagClock::wokeUp (double realStart, int clockMilliseconds)
{
    if (extraRealDelay > 0.0)
        sleepRealMicroseconds (extraRealDelay * 1000.0);

    const auto speed = clock.getSpeed();
    const auto lateReal =
        juce::Time::getMillisecondCounterHiRes() - realStart - juce::jmax (0, clockMilliseconds) / speed;
    const auto lag = (juce::int64) std::floor (juce::jmax (0.0, lateReal) * speed);

    for (auto longest = longestLag.load(); lag > longest && !longestLag.compare_exchange_weak (longest, lag);)
    {
    }
}

namespace simulation
{
std::vector<TimeoutDependency> getUpdateTimeouts (int stateTimeoutSeconds)
{
    const auto replyWindow = juce::jmin (MIDIPortsSelector::deviceInquiryWaitMilliseconds,
                                         MIDIPortsSelector::alternativeInquiryWaitMilliseconds,
                                         MIDIPortsSelector::panelStateWaitMilliseconds);
    return { { "reply window", replyWindow }, { "state time-out", stateTimeoutSeconds * 1000 } };
}

juce::String describeStarvation (juce::int64 longestLagMilliseconds, double speed,
                                 const std::vector<TimeoutDependency>& timeouts)
{
    // Half a time-out late is near enough: two such wake-ups in a row use it up.
    const TimeoutDependency* nearest = nullptr;
    for (auto& timeout : timeouts)
        if (longestLagMilliseconds * 2 >= timeout.clockMilliseconds &&
            (nearest == nullptr || timeout.clockMilliseconds > nearest->clockMilliseconds))
            nearest = &timeout;

    if (nearest == nullptr)
        return {};

    return "starved: wake-ups up to " + juce::String (longestLagMilliseconds) + " ms late at clock x" +
           juce::String (speed, 0) + ", near the " + juce::String (nearest->clockMilliseconds) + " ms " + nearest->name;
}
} // namespace simulation
} // namespace vfu
