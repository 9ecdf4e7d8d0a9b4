#pragma once

#include <juce_core/juce_core.h>

namespace vfu
{
// A version text is major.minor.patch, optionally followed by "p" and a number; its version number
// is major * 1000000 + minor * 10000 + patch * 100 + that number, or + 99 without it, so that
// "1.1.0p0" (1010000) sorts below "1.1.0" (1010099). Firmware packages are ordered by it and the
// detected firmware is compared through it.

// Never fails: missing parts count as 0, each part is its leading integer, and the result
// saturates instead of overflowing.
int parseVersionNumber (const juce::String& versionText);

// The text of a version number ("1.2.0", "1.1.0p3"); integer division truncates toward zero.
juce::String formatVersionNumber (int versionNumber);
} // namespace vfu
