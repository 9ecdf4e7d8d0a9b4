#include "Clock.h"

#include <cmath>

namespace vfu
{
namespace
{
// How often an interruptible sleep looks at the thread's exit flag, in real milliseconds.
constexpr int exitCheckIntervalMs = 10;
} // namespace

bool Clock::sleepUnlessThreadExits (int milliseconds)
{
    const auto end = now() + juce::jmax (0, milliseconds);

    for (;;)
    {
        if (juce::Thread::currentThreadShouldExit())
            return false;

        const auto remaining = end - now();
        if (remaining <= 0)
            return true;

        const auto realRemaining = toRealMilliseconds ((int) juce::jmin<juce::int64> (remaining, 1 << 30));
        juce::Thread::sleep (juce::jmin (realRemaining, exitCheckIntervalMs));
    }
}

int Clock::toRealMilliseconds (int clockMilliseconds) const
{
    if (clockMilliseconds <= 0)
        return 0;

    return juce::jmax (1, (int) std::ceil (clockMilliseconds / getSpeed()));
}

Clock& Clock::getRealClock()
{
    static RealClock clock;
    return clock;
}

juce::int64 RealClock::now() { return juce::Time::currentTimeMillis(); }

void RealClock::sleep (int milliseconds) { juce::Thread::sleep (milliseconds); }

bool RealClock::wait (juce::WaitableEvent& event, int milliseconds) { return event.wait (milliseconds); }

ScaledClock::ScaledClock (double speedToUse, juce::int64 startMilliseconds)
    : speed (juce::jmax (0.001, speedToUse)),
      start (startMilliseconds),
      realStart (juce::Time::getMillisecondCounterHiRes())
{
}

juce::int64 ScaledClock::now()
{
    return start + (juce::int64) std::floor ((juce::Time::getMillisecondCounterHiRes() - realStart) * speed);
}

void ScaledClock::sleep (int milliseconds)
{
    if (milliseconds <= 0)
        return;

    // Sleep until the clock has really advanced by the amount, so that the paced loops see the
    // same clock durations as on the real clock.
    const auto end = now() + milliseconds;
    while (now() < end)
        juce::Thread::sleep (juce::jmax (1, toRealMilliseconds ((int) (end - now()))));
}

bool ScaledClock::wait (juce::WaitableEvent& event, int milliseconds)
{
    if (milliseconds < 0)
        return event.wait (-1);

    return event.wait (toRealMilliseconds (milliseconds));
}
} // namespace vfu
