#pragma once

#include "definitions/FirmwareUpdater.h"
#include "engine/GuardedSignals.h"

namespace vfu::tool
{
// Ctrl-C, SIGTERM and SIGHUP as vfu update answers them (GuardedSignals): why the run must stop,
// or nothing while it goes on. What the person must know goes to standard error.
struct SignalAnswer
{
    juce::String stopReason;   // empty: go on
    bool afterVerdict = false; // a held-back request: the verdict state may still finish
};

SignalAnswer answerSignals (GuardedSignals& signals, const FirmwareUpdater& updater);

// The interrupts, and the terminations and hang-ups together, caught so far.
GuardedSignals::Counts readSignalCounts();
} // namespace vfu::tool
