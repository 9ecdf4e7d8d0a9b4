#include "packages/FirmwareImage.h"

#include "core/VersionNumber.h"

namespace vfu::FirmwareImage
{
namespace
{
constexpr juce::uint32 mask28 = (1u << 28) - 1;

void writeSeven28 (juce::uint8* out, juce::uint32 value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = (juce::uint8) ((value >> (7 * (3 - i))) & 0x7F);
}

juce::uint32 readSeven28 (const juce::uint8* in)
{
    juce::uint32 value = 0;
    for (int i = 0; i < 4; ++i)
        value = (value << 7) | (in[i] & 0x7Fu);
    return value;
}
} // namespace

juce::uint32 checksum (const juce::uint8* data, size_t size)
{
    // Position-sensitive, so that swapped, altered, missing or extra bytes all show.
    juce::uint32 sum = 0;
    for (size_t i = 0; i < size; ++i)
        sum = (sum * 31u + data[i] + 1u) & mask28;
    return sum;
}

juce::MemoryBlock generate (juce::uint16 deviceId, const juce::String& versionText, size_t size)
{
    const auto number = parseVersionNumber (versionText);

    if (size < minimumSize || number < 0 || (juce::uint32) number > mask28)
        return {};

    juce::MemoryBlock block (size, false);
    auto* bytes = static_cast<juce::uint8*> (block.getData());

    bytes[0] = 0xF0;
    bytes[1] = 0x04;
    bytes[2] = (juce::uint8) (deviceId & 0x7F);
    bytes[3] = imageCommand;
    writeSeven28 (bytes + 4, (juce::uint32) number);

    // Payload from a linear congruential generator seeded by device and version: the same
    // arguments always give the same image.
    juce::uint32 state = 0x9E3779B9u ^ ((juce::uint32) deviceId << 16) ^ (juce::uint32) number;
    for (size_t i = headerSize; i < size - trailerSize; ++i)
    {
        state = state * 1664525u + 1013904223u;
        bytes[i] = (juce::uint8) ((state >> 24) & 0x7F);
    }

    writeSeven28 (bytes + size - trailerSize, checksum (bytes, size - trailerSize));
    bytes[size - 1] = 0xF7;
    return block;
}

Contents inspect (const void* data, size_t size)
{
    Contents contents;
    const auto* bytes = static_cast<const juce::uint8*> (data);

    if (bytes == nullptr || size < minimumSize)
    {
        contents.problem = "image too short (" + juce::String ((juce::int64) size) + " bytes)";
        return contents;
    }

    if (bytes[0] != 0xF0 || bytes[1] != 0x04 || bytes[3] != imageCommand)
    {
        contents.problem = "not a firmware image header";
        return contents;
    }

    if (bytes[size - 1] != 0xF7)
    {
        contents.problem = "image does not end with F7";
        return contents;
    }

    for (size_t i = 1; i < size - 1; ++i)
    {
        if (bytes[i] >= 0x80)
        {
            contents.problem = "status byte inside the image at offset " + juce::String ((juce::int64) i);
            return contents;
        }
    }

    contents.deviceId = bytes[2];
    contents.versionNumber = (int) readSeven28 (bytes + 4);

    if (readSeven28 (bytes + size - trailerSize) != checksum (bytes, size - trailerSize))
    {
        contents.problem = "checksum mismatch";
        return contents;
    }

    contents.valid = true;
    return contents;
}
} // namespace vfu::FirmwareImage
