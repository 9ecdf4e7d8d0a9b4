#pragma once

#include <juce_core/juce_core.h>

namespace vfu::SysexSequence
{
// Why the bytes are not one or more whole SysEx messages one after the other (each F0, 7-bit data
// bytes, F7), as a firmware image must be to go out on MIDI as it stands; empty when they are.
// An empty block is "empty".
juce::String findProblem (const void* data, size_t size);
} // namespace vfu::SysexSequence
