#pragma once

#include <cstddef>
#include <cstdint>

// Shared by the fuzz targets: JUCE initialised once (leak detector and message manager), and the
// log silenced so that runs do not fill a log file.
namespace vfu::fuzz
{
void initialiseOnce();
}

#include <juce_core/juce_core.h>

namespace vfu::fuzz
{
// The bytes as a juce::String: UTF-8 when they are valid UTF-8, else one character per byte.
// juce::String requires valid UTF-8; invalid bytes reach the program only through its readers
// (files, archives), which the targets feed with the raw bytes.
juce::String textOf (const uint8_t* data, size_t size);
} // namespace vfu::fuzz
