#pragma once

#include <juce_core/juce_core.h>

#include "midi/PollResult.h"

// How the definition document's attribute texts are read into values.
namespace vfu::definitions
{
// True only for exactly "true".
bool readFlag (const juce::String& text);

// Leading white space, an optional sign, then decimal digits up to the first other character;
// no digits give 0. Values beyond the 32-bit range saturate instead of wrapping, so a huge
// packet size cannot turn into a small one.
int readInteger (const juce::String& text);

// A decimal number as String::getDoubleValue reads it, as a 32-bit float; no number gives 0.
// "nan", "inf" and values beyond the float range also give 0, so that no rule on the value
// (such as "0 or less becomes 0.5") can be bypassed by a non-finite number.
float readDecimal (const juce::String& text);

// The poll result that a PollingState value names, compared in lower case; a value that names
// none of them gives NoDevice.
PollResult readPollResult (const juce::String& value);

// The PollingState value that names a poll result, as documents write it in lower case
// ("device detected"); empty for Aborted and codes outside 1 to 9.
juce::String getPollResultValueName (PollResult result);

// Four characters, each one of "0123456789ABCDEF".
bool isMidiDeviceIdLengthValid (const juce::String& text);
bool isMidiDeviceIdAlphabetValid (const juce::String& text);

// The hexadecimal value of a valid MIDIDeviceID, first digit most significant.
juce::uint16 readMidiDeviceId (const juce::String& text);
} // namespace vfu::definitions
