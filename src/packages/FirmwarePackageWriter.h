#pragma once

#include <juce_core/juce_core.h>

#include <vector>

namespace vfu
{
// Builds ZIP archives in memory: firmware packages (images plus their checksum list) and the
// archive that is appended to the program file.
namespace ArchiveWriter
{
struct Entry
{
    juce::String name;
    juce::MemoryBlock data;
    bool deflate = true;
};

// A ZIP archive of the entries, in order. Entry times are fixed, so equal input gives equal bytes.
juce::MemoryBlock createArchive (const std::vector<Entry>& entries);

// The checksum list of images in the sha256sum format: "<64 lowercase hex> *<name>" per line.
juce::String createChecksumList (const std::vector<Entry>& images);

// A package: "<baseName>.sha" listing every image, then the images, all deflated.
juce::MemoryBlock createPackage (const juce::String& baseName, const std::vector<Entry>& images);
} // namespace ArchiveWriter
} // namespace vfu
