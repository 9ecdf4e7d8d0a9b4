#pragma once

#include <juce_core/juce_core.h>

namespace vfu::ProgramArchive
{
// The comment of the end record of an archive that appendTo wrote; it lets a second run find and
// replace the archive instead of appending another one.
constexpr const char* marker = "Vorn program archive";

// Rewrites an archive written from offset 0 (as juce::ZipFile::Builder writes it) for placing it
// at byte `base` of a file: every local header offset and the central directory offset grow by
// base, and the marker becomes the archive comment.
juce::Result relocate (juce::MemoryBlock& archive, juce::int64 base);

// The size of the program without an archive that appendTo appended earlier (its whole size
// when it carries none).
juce::int64 getSizeWithoutArchive (const juce::File& program);

// How much of the program file holds the program and its archive: all of it, or, for a Windows
// program signed after the archive was appended, what comes before its certificate table (the
// Authenticode signature, written at the very end: a few KB, tens of KB with a timestamped chain).
// Reading the archive only from that part finds its end record however large the signature is.
juce::int64 getLengthBeforeSignature (juce::InputStream& program);

// The part above of the program file, for juce::ZipFile and the archive checks; each stream it
// creates opens the file afresh. Null when the file cannot be read.
std::unique_ptr<juce::InputSource> createArchiveSource (const juce::File& program);

// Appends the archive to the program so that the whole file opens as a ZIP archive, replacing
// one appended earlier. Writes in place, so the file keeps its permissions.
juce::Result appendTo (const juce::File& program, const juce::MemoryBlock& archive);
} // namespace vfu::ProgramArchive
