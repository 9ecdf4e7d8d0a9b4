#include "definitions/DefinitionValues.h"

#include <cmath>
#include <limits>

namespace vfu::definitions
{
namespace
{
const char* const hexadecimalDigits = "0123456789ABCDEF";

// The names in the order they are compared; index + 1 is the poll result.
const char* const pollResultNames[] = {
    "no device",    "device detected",        "bootloader detected",      "panel mode detected", "panel no update",
    "panel erased", "panel firmware sending", "panel firmware succeeded", "panel update failed"
};
} // namespace

bool readFlag (const juce::String& text)
{
    return text == "true";
}

int readInteger (const juce::String& text)
{
    auto p = text.getCharPointer();

    while (p.isWhitespace())
        ++p;

    bool negative = false;

    if (*p == '-' || *p == '+')
    {
        negative = (*p == '-');
        ++p;
    }

    // Accumulated as a negative number so that the most negative int is reachable.
    constexpr juce::int64 lowest = std::numeric_limits<int>::min();
    juce::int64 value = 0;

    while (*p >= '0' && *p <= '9')
    {
        value = value * 10 - (juce::int64) (*p - '0');

        if (value < lowest)
            value = lowest;

        ++p;
    }

    if (negative)
        return (int) value;

    return (int) juce::jmin ((juce::int64) std::numeric_limits<int>::max(), -value);
}

float readDecimal (const juce::String& text)
{
    const auto value = (float) text.getDoubleValue();
    return std::isfinite (value) ? value : 0.0f;
}

juce::String describeClampedValue (const juce::String& attributeName, const juce::String& text)
{
    const bool wait = attributeName == "time";
    const auto longest = wait ? longestWaitSeconds : longestPacketPauseMilliseconds;

    if (!(readDecimal (text) > longest))
        return {};

    const auto limit = juce::String ((juce::int64) longest) + (wait ? " s" : " ms");
    return attributeName + " '" + text + "' is more than the longest " + (wait ? "wait" : "pause after a packet") +
           ", " + limit + ": " + limit + " is used";
}

PollResult readPollResult (const juce::String& value)
{
    const auto lowerCase = value.toLowerCase();

    for (int i = 0; i < (int) juce::numElementsInArray (pollResultNames); ++i)
        if (lowerCase == pollResultNames[i])
            return (PollResult) (i + 1);

    return NoDevice;
}

bool isMidiDeviceIdLengthValid (const juce::String& text)
{
    return text.length() == 4;
}

bool isMidiDeviceIdAlphabetValid (const juce::String& text)
{
    return text.containsOnly (hexadecimalDigits);
}

juce::uint16 readMidiDeviceId (const juce::String& text)
{
    jassert (isMidiDeviceIdLengthValid (text) && isMidiDeviceIdAlphabetValid (text));

    unsigned int value = 0;

    for (auto p = text.getCharPointer(); !p.isEmpty(); ++p)
        value = (value << 4) | (unsigned int) juce::jmax (0, juce::CharacterFunctions::getHexDigitValue (*p));

    return (juce::uint16) value;
}

juce::String getPollResultValueName (PollResult result)
{
    const auto index = (int) result - 1;

    if (index < 0 || index >= (int) juce::numElementsInArray (pollResultNames))
        return {};

    return pollResultNames[index];
}
} // namespace vfu::definitions
