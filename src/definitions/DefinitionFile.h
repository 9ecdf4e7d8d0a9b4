#pragma once

#include <juce_core/juce_core.h>

namespace vfu::definitions
{
// The largest definition document file that is read. Real documents are a few tens of KB.
constexpr juce::int64 maximumDocumentFileBytes = 8 * 1024 * 1024;

// Reads the bytes of a definition document file. An entry that is not a regular file (a FIFO would
// block the read, a device such as /dev/zero never ends) or that is larger than
// maximumDocumentFileBytes is not read: false with the loader's message naming the reason. A
// missing or unreadable file and a folder read as no bytes (true), which the loader then reports as
// a malformed document.
bool readDocumentFileBytes (const juce::File& file, juce::MemoryBlock& bytes, juce::String& refusal);
} // namespace vfu::definitions
