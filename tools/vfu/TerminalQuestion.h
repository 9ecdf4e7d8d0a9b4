#pragma once

#include <juce_core/juce_core.h>

namespace vfu::tool
{
enum class Reply
{
    yes,
    no, // answered so, or input ended
    interrupted,
    timeUp
};

// Asks a y/N question on standard error and reads the answer from standard input, which must be a
// terminal. Gives up when a termination signal is counted (core/TerminationSignals.h) or after `millisecondsLeft`,
// so that a question nobody answers never outlasts Ctrl-C, SIGTERM or the command's time limit.
Reply askYesNo (const juce::String& question, int millisecondsLeft);
} // namespace vfu::tool
