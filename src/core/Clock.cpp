#include "core/Clock.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace vfu
{
namespace
{
// How often an interruptible sleep looks at the thread's exit flag, in real milliseconds.
constexpr int exitCheckIntervalMs = 10;
} // namespace

bool Clock::sleepUnlessThreadExits (int milliseconds)
{
    // Timed on the high-resolution counter, so that a pause lasts its time to well under a
    // millisecond on every clock (the whole-millisecond system time would add up to 1 ms each).
    const auto realEnd = juce::Time::getMillisecondCounterHiRes() + juce::jmax (0, milliseconds) / getSpeed();

    for (;;)
    {
        if (juce::Thread::currentThreadShouldExit())
            return false;

        const auto remaining = realEnd - juce::Time::getMillisecondCounterHiRes();
        if (remaining <= 0.0)
            return true;

        // A juce::Thread waits on its own event, which stopThread signals, so a long pause costs
        // one wake-up instead of one per exit check; the last millisecond is slept precisely.
        auto* thread = juce::Thread::getCurrentThread();
        if (thread != nullptr && remaining > 2.0)
            thread->wait ((int) (remaining - 1.0));
        else
            sleepRealMicroseconds (juce::jmin (remaining, (double) exitCheckIntervalMs) * 1000.0);
    }
}

void Clock::sleepRealMicroseconds (double microseconds)
{
    // Below a millisecond for fast clocks, so that a scaled 98 ms pause does not stretch to a
    // whole real millisecond.
    std::this_thread::sleep_for (
        std::chrono::microseconds (juce::jmax ((juce::int64) 1, (juce::int64) std::ceil (microseconds))));
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

juce::int64 RealClock::now()
{
    return juce::Time::currentTimeMillis();
}

void RealClock::sleep (int milliseconds)
{
    juce::Thread::sleep (milliseconds);
}

bool RealClock::wait (juce::WaitableEvent& event, int milliseconds)
{
    return event.wait (milliseconds);
}

ScaledClock::ScaledClock (double speedToUse, juce::int64 startMilliseconds)
    : speed (juce::jmax (0.001, speedToUse)), start (startMilliseconds),
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
    for (auto remaining = end - now(); remaining > 0; remaining = end - now())
        sleepRealMicroseconds ((double) remaining * 1000.0 / speed);
}

bool ScaledClock::wait (juce::WaitableEvent& event, int milliseconds)
{
    if (milliseconds < 0)
        return event.wait (-1);

    return event.wait (toRealMilliseconds (milliseconds));
}
} // namespace vfu
