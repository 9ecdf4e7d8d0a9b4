#include "packages/ZipArchiveLayout.h"

#include <algorithm>
#include <cstring>

namespace vfu::zip
{
namespace
{
constexpr juce::uint32 endRecordSignature = 0x06054b50;
constexpr juce::uint32 centralHeaderSignature = 0x02014b50;
constexpr juce::uint32 localHeaderSignature = 0x04034b50;
constexpr int endRecordSize = 22;
constexpr int centralHeaderSize = 46;
constexpr int localHeaderSize = 30;

juce::uint16 readShort (const juce::uint8* p)
{
    return (juce::uint16) (p[0] | (p[1] << 8));
}
juce::uint32 readInt (const juce::uint8* p)
{
    return (juce::uint32) p[0] | ((juce::uint32) p[1] << 8) | ((juce::uint32) p[2] << 16) | ((juce::uint32) p[3] << 24);
}

bool readExactly (juce::InputStream& stream, juce::int64 position, void* destination, int size)
{
    return stream.setPosition (position) && stream.read (destination, size) == size;
}

juce::Result damaged()
{
    return juce::Result::fail ("damaged archive");
}

// How far back from the end juce::ZipFile looks for the end record.
constexpr juce::int64 endRecordSearchSize = 1048576;

// The end record's offset as juce::ZipFile finds it (findCentralDirectoryFileHeader in
// juce_ZipFile.cpp), or -1: backwards from the end in steps of 22 bytes over the last MiB, taking
// in each step the first signature that starts in it, the step's bytes followed by the first four
// of the step after it (zeros at the very end), so that it also sees a record cut short by the end.
// `tail` holds the stream's bytes from `tailStart` to `total`.
juce::int64 findEndRecordAsJuceDoes (const juce::uint8* tail, juce::int64 tailStart, juce::int64 total)
{
    const auto lowest = std::max<juce::int64> (0, total - endRecordSearchSize);
    juce::uint8 step[endRecordSize + 4] = {};

    for (auto pos = total; pos > lowest;)
    {
        pos = std::max<juce::int64> (0, pos - endRecordSize);
        std::memcpy (step + endRecordSize, step, 4);

        if (pos + endRecordSize > total)
            return -1;

        std::memcpy (step, tail + (pos - tailStart), endRecordSize);

        for (int i = 0; i < endRecordSize; ++i)
            if (readInt (step + i) == endRecordSignature)
                return pos + i;
    }

    return -1;
}

// The offset in the tail of the last end record signature, whole or cut short, or -1.
juce::int64 findLastSignature (const juce::uint8* tail, int tailSize)
{
    for (int i = tailSize - 4; i >= 0; --i)
        if (readInt (tail + i) == endRecordSignature)
            return i;

    return -1;
}
} // namespace

juce::Result readLayout (juce::InputStream& stream, ArchiveLayout& layout)
{
    layout = {};
    const auto total = stream.getTotalLength();

    if (total < endRecordSize)
        return juce::Result::fail ("not a ZIP archive");

    // JUCE searches at most the last MiB; a few bytes more hold the step that reaches past it.
    const auto tailSize = (int) std::min<juce::int64> (total, endRecordSearchSize + endRecordSize);
    juce::HeapBlock<juce::uint8> tail ((size_t) tailSize);

    if (!readExactly (stream, total - tailSize, tail, tailSize))
        return juce::Result::fail ("unreadable");

    // The record juce::ZipFile will read must be the only one: a second signature after it (a fake
    // record in the last bytes, which a reader that wants 22 whole bytes would skip) would let the
    // check and the reader see two different directories.
    const auto tailStart = total - tailSize;
    const auto found = findEndRecordAsJuceDoes (tail, tailStart, total);
    if (found < 0)
        return juce::Result::fail ("not a ZIP archive");

    if (findLastSignature (tail, tailSize) + tailStart != found)
        return juce::Result::fail ("ambiguous archive (two end records)");

    if (found + endRecordSize > total)
        return damaged();

    const auto endInTail = (int) (found - tailStart);
    const auto* end = tail + endInTail;
    layout.endRecordOffset = total - tailSize + endInTail;
    const int numEntries = readShort (end + 10);
    layout.centralDirectorySize = readInt (end + 12);
    layout.centralDirectoryOffset = readInt (end + 16);

    // juce::ZipFile accepts an offset that points just past the directory's first signature.
    juce::uint8 signature[4];
    if (layout.centralDirectoryOffset >= 4 && layout.centralDirectoryOffset + 4 <= total &&
        readExactly (stream, layout.centralDirectoryOffset, signature, 4) &&
        readInt (signature) != centralHeaderSignature &&
        readExactly (stream, layout.centralDirectoryOffset - 4, signature, 4) &&
        readInt (signature) == centralHeaderSignature)
        layout.centralDirectoryOffset -= 4;

    // JUCE reads everything from the directory to the end of the stream into memory.
    const auto directoryBytes = layout.endRecordOffset - layout.centralDirectoryOffset;
    if (layout.centralDirectoryOffset < 0 || directoryBytes < 0 ||
        total - layout.centralDirectoryOffset > maximumCentralDirectorySize)
        return damaged();

    juce::HeapBlock<juce::uint8> directory ((size_t) directoryBytes + 1);
    if (directoryBytes > 0 && !readExactly (stream, layout.centralDirectoryOffset, directory, (int) directoryBytes))
        return damaged();

    juce::int64 pos = 0;
    for (int i = 0; i < numEntries; ++i)
    {
        if (pos + centralHeaderSize > directoryBytes)
            return damaged();

        const auto* header = directory + pos;
        const int nameLength = readShort (header + 28);
        const auto headerLength =
            (juce::int64) centralHeaderSize + nameLength + readShort (header + 30) + readShort (header + 32);

        if (readInt (header) != centralHeaderSignature || pos + headerLength > directoryBytes)
            return damaged();

        // Names are read as UTF-8 (as JUCE reads them); bytes that are not would make every text
        // operation on the name step past its end, and a NUL would hide the rest of it.
        const auto* nameBytes = reinterpret_cast<const char*> (header + centralHeaderSize);
        if (std::memchr (nameBytes, 0, (size_t) nameLength) != nullptr || !juce::CharPointer_UTF8::isValidString (nameBytes, nameLength))
            return damaged();

        EntryLayout entry;
        entry.name = juce::String::fromUTF8 (nameBytes, nameLength);
        entry.encrypted = (readShort (header + 8) & 1) != 0;
        entry.method = readShort (header + 10);
        entry.compressedSize = readInt (header + 20);
        entry.uncompressedSize = readInt (header + 24);
        entry.localHeaderOffset = readInt (header + 42);

        juce::uint8 local[localHeaderSize];
        if (!readExactly (stream, entry.localHeaderOffset, local, localHeaderSize) ||
            readInt (local) != localHeaderSignature)
            return damaged();

        entry.dataOffset = entry.localHeaderOffset + localHeaderSize + readShort (local + 26) + readShort (local + 28);

        if (entry.dataOffset + entry.compressedSize > layout.centralDirectoryOffset)
            return damaged();

        layout.entries.push_back (entry);
        pos += headerLength;
    }

    // Entries may not share bytes: overlapping entries are the classic way of making a small
    // archive decompress to far more than its size.
    std::vector<const EntryLayout*> byOffset;
    for (auto& entry : layout.entries)
        byOffset.push_back (&entry);

    std::sort (byOffset.begin(), byOffset.end(),
               [] (auto* a, auto* b) { return a->localHeaderOffset < b->localHeaderOffset; });

    for (size_t i = 1; i < byOffset.size(); ++i)
        if (byOffset[i - 1]->dataOffset + byOffset[i - 1]->compressedSize > byOffset[i]->localHeaderOffset)
            return damaged();

    layout.archiveStart = byOffset.empty() ? layout.centralDirectoryOffset : byOffset.front()->localHeaderOffset;
    return juce::Result::ok();
}

bool isReadable (const EntryLayout& entry)
{
    if (entry.encrypted)
        return false;

    return entry.method == 8 || (entry.method == 0 && entry.compressedSize == entry.uncompressedSize);
}

bool matchesZipFile (const ArchiveLayout& layout, const juce::ZipFile& zipFile)
{
    if ((size_t) zipFile.getNumEntries() != layout.entries.size())
        return false;

    // The offsets, compressed sizes and methods JUCE keeps to itself; it reads them from the same
    // directory (readLayout finds the end record as it does), and what it shows must agree.
    for (int i = 0; i < zipFile.getNumEntries(); ++i)
    {
        const auto& entry = *zipFile.getEntry (i);
        const auto& checked = layout.entries[(size_t) i];
        if (entry.filename != checked.name || entry.uncompressedSize != checked.uncompressedSize)
            return false;
    }

    return true;
}

bool hasPackageExtension (const juce::String& entryName)
{
    const auto dot = entryName.lastIndexOfChar ('.');
    return dot >= 0 && dot > entryName.lastIndexOfChar ('\\') && entryName.substring (dot).toLowerCase() == ".vfw";
}

bool readAtMost (juce::InputStream& stream, juce::int64 maximumSize, juce::MemoryBlock& destination)
{
    destination.reset();
    constexpr int chunkSize = 64 * 1024;
    juce::HeapBlock<char> chunk (chunkSize);
    juce::MemoryOutputStream out (destination, false);

    for (;;)
    {
        const auto numRead = stream.read (chunk, chunkSize);

        if (numRead <= 0)
            break;

        if ((juce::int64) out.getPosition() + numRead > maximumSize)
        {
            out.flush();
            destination.reset();
            return false;
        }

        out.write (chunk, (size_t) numRead);
    }

    out.flush();
    return true;
}
} // namespace vfu::zip
