// Version texts: parseVersionNumber never fails on any text, and the round trips hold.
#include "FuzzSupport.h"

#include "core/VersionNumber.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    vfu::fuzz::initialiseOnce();

    const auto text = vfu::fuzz::textOf (data, size);
    const auto number = vfu::parseVersionNumber (text);

    // Formatting a parsed number and parsing it again gives the same number.
    if (number >= 0 && vfu::parseVersionNumber (vfu::formatVersionNumber (number)) != number)
        __builtin_trap();

    // Any number from 0 up round-trips through its text, and its text is canonical.
    if (size >= 4)
    {
        juce::int32 raw;
        std::memcpy (&raw, data, 4);
        const int n = raw & 0x7fffffff;
        const auto formatted = vfu::formatVersionNumber (n);
        if (vfu::parseVersionNumber (formatted) != n)
            __builtin_trap();
        if (vfu::formatVersionNumber (vfu::parseVersionNumber (formatted)) != formatted)
            __builtin_trap();
    }
    return 0;
}
