#pragma once

#include <juce_core/juce_core.h>

// The time a transfer still needs, as the panel shows it: "About 2 min 10 s left", rounded up
// to whole seconds ("About 1 h 5 min left" from an hour on). Empty, so the line is hidden, when
// nothing is left or the figure cannot be a transfer's (negative, NaN, infinite, over a week).
juce::String formatTimeLeft (double secondsLeft);
