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

// The longest Wait time (seconds) and SendSysEx waitTime (milliseconds a packet) the engine keeps:
// the waits are whole milliseconds in an int, so larger values would overflow (a Wait of 3e6 s
// would not wait at all). Larger values are clamped to these at load, as packetSize is.
constexpr float longestWaitSeconds = 2.0e6f;
constexpr float longestPacketPauseMilliseconds = 2.0e9f;

// For a Wait "time" or a SendSysEx "waitTime" attribute whose value is clamped, what happens
// ("time '3e6' is more than the longest wait, 2000000 s: 2000000 s is used"); empty otherwise.
juce::String describeClampedValue (const juce::String& attributeName, const juce::String& text);

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
