#pragma once

#include <juce_core/juce_core.h>

#include <memory>
#include <vector>

namespace vfu::zip
{
// Where one entry of a ZIP archive lies, as read from the central directory and the entry's local
// header.
struct EntryLayout
{
    juce::String name;
    juce::int64 localHeaderOffset = 0;
    juce::int64 dataOffset = 0; // first byte of the (compressed) data
    juce::int64 compressedSize = 0;
    juce::int64 uncompressedSize = 0;
    int method = 0;         // 0 stored, 8 deflate; anything else JUCE cannot read
    bool encrypted = false; // general purpose flag bit 0
};

// True when JUCE can read the entry as it stands: not encrypted, and either deflated or stored
// with equal sizes. Only the entries that are read need to pass; others are ignored.
bool isReadable (const EntryLayout& entry);

struct ArchiveLayout
{
    juce::int64 endRecordOffset = 0;
    juce::int64 centralDirectoryOffset = 0;
    juce::int64 centralDirectorySize = 0;
    juce::int64 archiveStart = 0;     // the lowest local header offset (the central directory when empty)
    std::vector<EntryLayout> entries; // in central-directory order
};

// The central directory of a program file or package may not exceed this (it is read into memory).
constexpr juce::int64 maximumCentralDirectorySize = 4 * 1024 * 1024;

// Reads and checks the layout of the ZIP archive that ends the stream: the end record is found as
// juce::ZipFile finds it (in the last MiB, so data such as a signature may follow the archive) and
// must be the only one there ("ambiguous archive (two end records)" otherwise), every offset and
// size must stay inside the stream, entries must not overlap (no entry can be made to decompress
// the same data twice). The compression method and encryption
// are recorded, not checked: an entry that is never read may use any (see isReadable).
// Reads only the end of the stream, the central directory and 30 bytes per entry, so a lying
// header cannot make it read or allocate much. Fails with "not a ZIP archive" when there is no
// end record, "damaged archive" for anything else.
juce::Result readLayout (juce::InputStream& stream, ArchiveLayout& layout);

// True when juce::ZipFile sees the same entries (names and sizes, in order) as the layout: the
// check that nothing JUCE reads later disagrees with what readLayout validated.
bool matchesZipFile (const ArchiveLayout& layout, const juce::ZipFile& zipFile);

// Reads one entry whole, refusing more bytes than its header declared (or than the limit), and
// fewer: a deflate stream that does not match its sizes is damaged. An entry that JUCE cannot
// read (encrypted, or compressed with another method) is refused here, where it is read.
bool readEntry (juce::ZipFile& zipFile, int index, const EntryLayout& entry, juce::int64 limit,
                juce::MemoryBlock& data);

// An archive held in memory, handed to juce::ZipFile only once its layout has been read and
// checked, and kept only when JUCE then sees the same entries.
class MemoryArchive
{
public:
    // readLayout's failure, or "damaged archive" when juce::ZipFile sees other entries. The block
    // is read in place: it must outlive the archive and not change.
    juce::Result open (const juce::MemoryBlock& data);

    // After a successful open.
    const ArchiveLayout& getLayout() const { return layout; }
    juce::ZipFile& getZipFile() { return *zipFile; }
    int getNumEntries() const { return (int) layout.entries.size(); }

    // Entry `index` (of the layout's entries) read whole, as readEntry reads it.
    bool readEntry (int index, juce::int64 limit, juce::MemoryBlock& data);

private:
    std::unique_ptr<juce::MemoryInputStream> input;
    ArchiveLayout layout;
    std::unique_ptr<juce::ZipFile> zipFile; // reads from input
};

// The extension test of the program archive: the text from the last "." on, lower-cased, is
// ".vfw", counting the "." only when it comes after the last "\".
bool hasPackageExtension (const juce::String& entryName);

// Reads the rest of a stream into memory in bounded chunks; false (and the block cleared) when
// it holds more than maximumSize bytes or the stream fails.
bool readAtMost (juce::InputStream& stream, juce::int64 maximumSize, juce::MemoryBlock& destination);
} // namespace vfu::zip
