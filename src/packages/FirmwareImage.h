#pragma once

#include <juce_core/juce_core.h>

// The firmware image layout that the simulated instruments accept (see docs/firmware-image.md):
// one SysEx message that carries the model's device id, the target version and a checksum in
// ordinary 7-bit data bytes:
//   F0 04 id 70 | version number, 4 bytes of 7 bits (most significant first) | payload |
//   checksum of every byte before it, 4 bytes of 7 bits | F7
namespace vfu::FirmwareImage
{
// A deterministic image of exactly `size` bytes (at least minimumSize) for the device and version;
// an empty block when the size is too small or the version number does not fit in 28 bits.
juce::MemoryBlock generate (juce::uint16 deviceId, const juce::String& versionText, size_t size);

struct Contents
{
    bool valid = false;        // layout and checksum hold
    juce::uint16 deviceId = 0; // the low 7 bits of the device id the image is for
    int versionNumber = -1;    // the target version, as parseVersionNumber gives it
    juce::String problem;      // why it is not valid
};

// Reads an image (the bytes a transfer delivered, concatenated).
Contents inspect (const void* data, size_t size);

// The 28-bit checksum of the layout over `size` bytes.
juce::uint32 checksum (const juce::uint8* data, size_t size);

constexpr size_t headerSize = 8;   // F0 04 id 70 and the four version bytes
constexpr size_t trailerSize = 5;  // four checksum bytes and F7
constexpr size_t minimumSize = 14; // header, one payload byte, trailer
constexpr juce::uint8 imageCommand = 0x70;
} // namespace vfu::FirmwareImage
