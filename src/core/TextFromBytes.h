#pragma once

#include <juce_core/juce_core.h>

#include <limits>

namespace vfu
{
// The text of bytes read from outside (a file, an archive entry): UTF-16 with a byte order mark,
// UTF-8, or Windows-1252 when they are not UTF-8, as juce::String::createStringFromData reads
// them. That function reads one byte past a buffer that holds nothing but a UTF-8 byte order
// mark, so it is given a copy that ends in a NUL.
inline juce::String textFromBytes (const void* data, size_t size)
{
    const auto length = (int) juce::jmin (size, (size_t) std::numeric_limits<int>::max() - 1);
    juce::MemoryBlock copy ((size_t) length + 1, true);
    if (length > 0)
        copy.copyFrom (data, 0, (size_t) length);
    return juce::String::createStringFromData (copy.getData(), length);
}
} // namespace vfu
