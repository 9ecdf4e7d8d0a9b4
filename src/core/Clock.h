#pragma once

#include <juce_core/juce_core.h>

#include <atomic>

namespace vfu
{
// The one source of time for the engine, the SysEx sender, the port selector and the simulated
// instruments. The real clock keeps the exact pacing; a scaled clock lets tests and the
// command-line tool play whole updates in seconds.
class Clock
{
public:
    virtual ~Clock() = default;

    // Milliseconds on this clock (the system clock for the real one).
    virtual juce::int64 now() = 0;

    // Sleeps for the given clock milliseconds, not interruptible (Thread::sleep on the real clock).
    virtual void sleep (int milliseconds) = 0;

    // Sleeps for the given clock milliseconds, but returns early (false) as soon as the calling
    // juce::Thread is asked to exit; true when the whole time passed. A juce::Thread wakes at once
    // when stopped with stopThread (or signalThreadShouldExit followed by notify).
    virtual bool sleepUnlessThreadExits (int milliseconds);

    // Waits on an event for at most the given clock milliseconds; true when it was signalled.
    virtual bool wait (juce::WaitableEvent& event, int milliseconds) = 0;

    // How many clock milliseconds pass per real millisecond (1 for the real clock).
    virtual double getSpeed() const = 0;

    // Converts clock milliseconds to real milliseconds (at least 1 for a positive duration).
    int toRealMilliseconds (int clockMilliseconds) const;

    // The process-wide real clock.
    static Clock& getRealClock();

protected:
    // A real sleep with microsecond resolution (at least one microsecond).
    static void sleepRealMicroseconds (double microseconds);
};

// The system clock: Time::currentTimeMillis and Thread::sleep.
class RealClock final : public Clock
{
public:
    juce::int64 now() override;
    void sleep (int milliseconds) override;
    bool wait (juce::WaitableEvent& event, int milliseconds) override;
    double getSpeed() const override { return 1.0; }
};

// Runs `speed` times faster than real time, counted from its creation. All threads that share
// one ScaledClock see the same time.
class ScaledClock final : public Clock
{
public:
    explicit ScaledClock (double speed, juce::int64 startMilliseconds = 1000000000);

    juce::int64 now() override;
    void sleep (int milliseconds) override;
    bool wait (juce::WaitableEvent& event, int milliseconds) override;
    double getSpeed() const override { return speed; }

private:
    const double speed;
    const juce::int64 start;
    const double realStart;
};
} // namespace vfu
