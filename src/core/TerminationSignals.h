#pragma once

#include <juce_core/juce_core.h>

#include <functional>
#include <initializer_list>

namespace vfu
{
// The signals that ask a program to end: Ctrl-C (SIGINT), SIGTERM and SIGHUP (a closed terminal).
// On Windows there is no SIGHUP, and Ctrl-Break (SIGBREAK) counts as a termination request.
enum class TerminationSignal
{
    interrupt, // SIGINT
    terminate, // SIGTERM (Windows: also SIGBREAK)
    hangUp,    // SIGHUP (POSIX only)
};

// Counts the given signals from the moment this is called instead of letting them end the process,
// so that a program can stop cleanly, or hold a request back while stopping would do harm. The
// handler only counts and wakes the listeners (it is async-signal-safe). Calls add to the signals
// already caught; a signal never caught keeps its default action.
void catchTerminationSignals (std::initializer_list<TerminationSignal> signals);

// How many of that signal arrived since catching began; any thread.
int getTerminationSignalCount (TerminationSignal signal) noexcept;

// All three counts added up.
int getTerminationSignalTotal() noexcept;

// A thread that calls `onSignal` (on that thread) soon after each caught signal arrives, without
// polling on POSIX (it sleeps on a pipe the handler writes to; Windows looks every 100 ms). Signals
// that arrive together may be told once each in any order. Stops, without forced termination, in
// its destructor.
class TerminationSignalListener final : private juce::Thread
{
public:
    explicit TerminationSignalListener (std::function<void (TerminationSignal)> onSignal);
    ~TerminationSignalListener() override;

private:
    void run() override;
    void tellNewSignals();

    const std::function<void (TerminationSignal)> onSignal;
    int seen[3] = {};
    int slot = -1; // POSIX: this listener's wake-up pipe in the handler's list, -1 when none

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TerminationSignalListener)
};
} // namespace vfu
