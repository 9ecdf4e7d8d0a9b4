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

// The end record as readLayout takes it: where it lies and what it says of the directory.
struct EndRecord
{
    juce::int64 offset = 0;
    int numEntries = 0;
    juce::int64 directorySize = 0;
    juce::int64 directoryOffset = 0;
};

// Finds the one end record juce::ZipFile will read and reads its fields.
juce::Result readEndRecord (juce::InputStream& stream, juce::int64 total, EndRecord& record)
{
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

    const auto* end = tail + (found - tailStart);
    record.offset = found;
    record.numEntries = readShort (end + 10);
    record.directorySize = readInt (end + 12);
    record.directoryOffset = readInt (end + 16);
    return juce::Result::ok();
}

// juce::ZipFile accepts an offset that points just past the directory's first signature; the
// offset it then reads from.
juce::int64 directoryOffsetAsJuceReads (juce::InputStream& stream, juce::int64 total, juce::int64 offset)
{
    juce::uint8 signature[4];
    if (offset >= 4 && offset + 4 <= total && readExactly (stream, offset, signature, 4) &&
        readInt (signature) != centralHeaderSignature && readExactly (stream, offset - 4, signature, 4) &&
        readInt (signature) == centralHeaderSignature)
        return offset - 4;

    return offset;
}

// Reads the central directory into memory, bounded as JUCE reads it: everything from the
// directory to the end of the stream.
juce::Result readDirectory (juce::InputStream& stream, juce::int64 total, const ArchiveLayout& layout,
                            juce::HeapBlock<juce::uint8>& directory, juce::int64& directoryBytes)
{
    directoryBytes = layout.endRecordOffset - layout.centralDirectoryOffset;
    if (layout.centralDirectoryOffset < 0 || directoryBytes < 0 ||
        total - layout.centralDirectoryOffset > maximumCentralDirectorySize)
        return damaged();

    directory.allocate ((size_t) directoryBytes + 1, false);
    if (directoryBytes > 0 && !readExactly (stream, layout.centralDirectoryOffset, directory, (int) directoryBytes))
        return damaged();

    return juce::Result::ok();
}

// Reads the central header at `header` (`available` bytes of the directory from there on) and the
// entry's local header; `headerLength` receives the central header's length.
juce::Result readEntryLayout (juce::InputStream& stream, const juce::uint8* header, juce::int64 available,
                              juce::int64 directoryOffset, EntryLayout& entry, juce::int64& headerLength)
{
    if (centralHeaderSize > available)
        return damaged();

    const int nameLength = readShort (header + 28);
    headerLength = (juce::int64) centralHeaderSize + nameLength + readShort (header + 30) + readShort (header + 32);

    if (readInt (header) != centralHeaderSignature || headerLength > available)
        return damaged();

    // Names are read as UTF-8 (as JUCE reads them); bytes that are not would make every text
    // operation on the name step past its end, and a NUL would hide the rest of it.
    const auto* nameBytes = reinterpret_cast<const char*> (header + centralHeaderSize);
    if (std::memchr (nameBytes, 0, (size_t) nameLength) != nullptr ||
        !juce::CharPointer_UTF8::isValidString (nameBytes, nameLength))
        return damaged();

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

    if (entry.dataOffset + entry.compressedSize > directoryOffset)
        return damaged();

    return juce::Result::ok();
}

// Entries may not share bytes: overlapping entries are the classic way of making a small archive
// decompress to far more than its size. Sets the archive's start, its lowest local header.
juce::Result checkNoOverlap (ArchiveLayout& layout)
{
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
} // namespace

juce::Result readLayout (juce::InputStream& stream, ArchiveLayout& layout)
{
    layout = {};
    const auto total = stream.getTotalLength();

    EndRecord end;
    if (auto result = readEndRecord (stream, total, end); result.failed())
        return result;

    layout.endRecordOffset = end.offset;
    layout.centralDirectorySize = end.directorySize;
    layout.centralDirectoryOffset = directoryOffsetAsJuceReads (stream, total, end.directoryOffset);

    juce::HeapBlock<juce::uint8> directory;
    juce::int64 directoryBytes = 0;
    if (auto result = readDirectory (stream, total, layout, directory, directoryBytes); result.failed())
        return result;

    for (juce::int64 pos = 0, i = 0; i < end.numEntries; ++i)
    {
        EntryLayout entry;
        juce::int64 headerLength = 0;
        if (auto result = readEntryLayout (stream, directory + pos, directoryBytes - pos, layout.centralDirectoryOffset,
                                           entry, headerLength);
            result.failed())
            return result;

        layout.entries.push_back (entry);
        pos += headerLength;
    }

    return checkNoOverlap (layout);
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

bool readEntry (juce::ZipFile& zipFile, int index, const EntryLayout& entry, juce::int64 limit, juce::MemoryBlock& data)
{
    if (entry.uncompressedSize > limit || !isReadable (entry))
        return false;

    std::unique_ptr<juce::InputStream> stream (zipFile.createStreamForEntry (index));
    return stream != nullptr && readAtMost (*stream, entry.uncompressedSize, data) &&
           (juce::int64) data.getSize() == entry.uncompressedSize;
}

juce::Result MemoryArchive::open (const juce::MemoryBlock& data)
{
    zipFile.reset();
    input = std::make_unique<juce::MemoryInputStream> (data, false);

    if (auto result = readLayout (*input, layout); result.failed())
        return result;

    zipFile = std::make_unique<juce::ZipFile> (*input);
    if (!matchesZipFile (layout, *zipFile))
    {
        zipFile.reset();
        return juce::Result::fail ("damaged archive");
    }

    return juce::Result::ok();
}

bool MemoryArchive::readEntry (int index, juce::int64 limit, juce::MemoryBlock& data)
{
    return zip::readEntry (*zipFile, index, layout.entries[(size_t) index], limit, data);
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
