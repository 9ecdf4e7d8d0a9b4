#include "core/VersionNumber.h"

#include <limits>

namespace vfu
{
namespace
{
// The leading decimal integer of a token: leading blanks and a sign allowed, reading stops at the
// first non-digit, no digits give 0. Saturates instead of overflowing.
juce::int64 leadingInteger (const juce::String& token)
{
    auto p = token.getCharPointer().findEndOfWhitespace();
    bool negative = false;

    if (*p == '-' || *p == '+')
    {
        negative = *p == '-';
        ++p;
    }

    juce::int64 value = 0;
    while (juce::CharacterFunctions::isDigit (*p))
    {
        value = juce::jmin<juce::int64> (value * 10 + (*p - '0'), std::numeric_limits<int>::max());
        ++p;
    }

    return negative ? -value : value;
}
} // namespace

int parseVersionNumber (const juce::String& versionText)
{
    juce::StringArray tokens;
    tokens.addTokens (versionText, ".p", "");

    auto part = [&tokens] (int i) { return i < tokens.size() ? leadingInteger (tokens[i]) : 0; };

    const juce::int64 number =
        part (0) * 1000000 + part (1) * 10000 + part (2) * 100 + (tokens.size() == 4 ? part (3) : 99);

    return (int) juce::jlimit<juce::int64> (std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), number);
}

juce::String formatVersionNumber (int versionNumber)
{
    const juce::int64 n = versionNumber;
    const auto major = n / 1000000;
    const auto minor = (n - major * 1000000) / 10000;
    const auto patch = (n - (major * 100 + minor) * 10000) / 100;
    const auto suffix = n - ((major * 100 + minor) * 100 + patch) * 100;

    auto text = juce::String (major) + "." + juce::String (minor) + "." + juce::String (patch);

    if (suffix != 99)
        text << "p" << juce::String (suffix);

    return text;
}
} // namespace vfu
