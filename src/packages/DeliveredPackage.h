#pragma once

#include <juce_core/juce_core.h>

// The firmware package that the program carries, built at build time (tools/bundle) and appended
// to the executable; tests and the benchmark build the same bytes.
namespace vfu::DeliveredPackage
{
constexpr const char* baseName = "quillbox-fw-2.2.1";
constexpr const char* packageFileName = "quillbox-fw-2.2.1.vfw";
constexpr const char* versionText = "2.2.1";
constexpr juce::uint16 deviceId = 0x0008;
constexpr size_t imageSize = 359267;

// The metadata entry of the program archive: it ends in ".vfw" but is no package.
constexpr const char* metadataEntryName = "metadata.vfw";

// quillbox-fw-2.2.1.vfw: the one-line checksum list and the generated image, both stored
// (359,612 bytes); deterministic.
juce::MemoryBlock createPackage();

// The archive for the program file: the package (deflated) and the metadata entry, with offsets
// from 0 (ProgramArchive::appendTo moves them).
juce::MemoryBlock createProgramArchive();

// The same archive around the given package bytes (the build passes the signed package).
juce::MemoryBlock createProgramArchive (const juce::MemoryBlock& package);
} // namespace vfu::DeliveredPackage
