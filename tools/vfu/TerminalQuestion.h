#pragma once

#include <juce_core/juce_core.h>

namespace vfu::tool
{
// Asks a y/N question on standard error and reads the answer from standard input, which must be a
// terminal. Gives up, as a "no", when input ends, when an interrupt is counted (see Interrupts.h)
// or when the millisecond counter (Time::getMillisecondCounterHiRes) reaches `deadline`, so that a
// question nobody answers never outlasts Ctrl-C, SIGTERM or the command's time limit.
bool askYesNo (const juce::String& question, double deadline);
} // namespace vfu::tool
