#pragma once

#include <juce_core/juce_core.h>

// The firmware image layout that the simulated instruments accept (see docs/firmware-image.md):
// one SysEx message that carries the model's device id, the target version and a checksum in
// ordinary 7-bit data bytes.
namespace vfu::FirmwareImage
{
// A deterministic image of exactly `size` bytes (at least minimumSize) for the device and version.
juce::MemoryBlock generate (juce::uint16 deviceId, const juce::String& versionText, size_t size);

struct Contents
{
    bool valid = false;          // layout and checksum hold
    juce::uint16 deviceId = 0;   // the low 7 bits of the device id the image is for
    int versionNumber = -1;      // the target version, as parseVersionNumber gives it
    juce::String problem;        // why it is not valid
};

// Reads an image (the bytes a transfer delivered, concatenated).
Contents inspect (const void* data, size_t size);

constexpr size_t minimumSize = 14;
} // namespace vfu::FirmwareImage
