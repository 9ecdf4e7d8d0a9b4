#pragma once

#include <juce_core/juce_core.h>

#include <functional>

namespace vfu
{
// How a command-line update answers the signals that ask it to end (vfu update, vfu run), around
// the guarded phase (FirmwareUpdater::isGuarded):
// - outside the phase every one stops the run;
// - during it, a first Ctrl-C only warns; a second within 3 seconds stops the run, leaving the
//   instrument in its bootloader;
// - SIGTERM and SIGHUP during it are held back until the phase has ended, then stop the run.
// Not thread-safe: one thread looks, once a pass.
class GuardedSignals final
{
public:
    struct Counts
    {
        int interrupts = 0;   // SIGINT
        int terminations = 0; // SIGTERM and SIGHUP
    };

    enum class Action
    {
        goOn,
        warnFirstInterrupt, // tell the user firstInterruptText; the update goes on
        deferTermination,   // a termination arrived during the phase; it waits for the verdict
        stop,               // stop now: outside the phase
        stopAfterVerdict,   // stop now: a held-back termination, the phase has ended
        stopDuringUpdate,   // stop now: the second Ctrl-C, in the middle of the update
    };

    // `read` gives the counts so far (null: none ever); every signal counted so far is new to the
    // first look.
    explicit GuardedSignals (std::function<Counts()> read);

    // What the signals since the last look ask for, given whether the update is guarded now and
    // the real time in milliseconds.
    Action look (bool guarded, double nowMilliseconds);

    static constexpr double secondInterruptWindowMs = 3000.0;

    static const char* const firstInterruptText;
    static const char* const terminationDeferredText;
    static const char* const stoppedDuringUpdateText;

private:
    const std::function<Counts()> read;
    Counts seen;
    double lastInterrupt = -1.0e12;
    bool terminationHeld = false;
};
} // namespace vfu
