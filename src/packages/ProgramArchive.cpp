#include "packages/ProgramArchive.h"

#include "packages/ZipArchiveLayout.h"

namespace vfu::ProgramArchive
{
namespace
{
constexpr int endRecordSize = 22;

juce::uint32 readInt (const juce::uint8* p)
{
    return (juce::uint32) p[0] | ((juce::uint32) p[1] << 8) | ((juce::uint32) p[2] << 16) | ((juce::uint32) p[3] << 24);
}

void writeInt (juce::uint8* p, juce::uint32 value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = (juce::uint8) (value >> (8 * i));
}

juce::uint16 readShort (const juce::uint8* p)
{
    return (juce::uint16) (p[0] | (p[1] << 8));
}

bool addToOffset (juce::uint8* field, juce::int64 base)
{
    const auto moved = (juce::int64) readInt (field) + base;
    if (moved > (juce::int64) 0xffffffffu)
        return false; // beyond what a ZIP archive without ZIP64 records can address

    writeInt (field, (juce::uint32) moved);
    return true;
}
// A Portable Executable's certificate table: the fifth data directory of its optional header,
// whose address is a file offset (unlike the others, which are addresses in memory).
constexpr int securityDirectory = 4;

bool readAt (juce::InputStream& input, juce::int64 position, juce::uint8* into, int size)
{
    return input.setPosition (position) && input.read (into, size) == size;
}

class ProgramPartSource final : public juce::InputSource
{
public:
    ProgramPartSource (const juce::File& f, juce::int64 l) : file (f), length (l) {}

    juce::InputStream* createInputStream() override
    {
        auto input = std::make_unique<juce::FileInputStream> (file);
        if (!input->openedOk())
            return nullptr;
        return new juce::SubregionStream (input.release(), 0, length, true);
    }

    juce::InputStream* createInputStreamFor (const juce::String&) override { return nullptr; }
    juce::int64 hashCode() const override { return file.hashCode64() ^ length; }

private:
    const juce::File file;
    const juce::int64 length;
};
} // namespace

juce::int64 getLengthBeforeSignature (juce::InputStream& program)
{
    const auto total = program.getTotalLength();
    juce::uint8 dos[64], pe[24];
    if (!readAt (program, 0, dos, 64) || dos[0] != 'M' || dos[1] != 'Z')
        return total;

    const auto peOffset = (juce::int64) readInt (dos + 0x3c);
    if (!readAt (program, peOffset, pe, 24) || std::memcmp (pe, "PE\0\0", 4) != 0)
        return total;

    // The optional header follows the 20-byte file header; its data directories lie further in for
    // PE32+ (64-bit) than for PE32.
    const auto optional = peOffset + 24;
    juce::uint8 magic[2];
    if (!readAt (program, optional, magic, 2))
        return total;
    const auto kind = readShort (magic);
    if (kind != 0x10b && kind != 0x20b)
        return total;

    const auto countAt = optional + (kind == 0x20b ? 108 : 92);
    juce::uint8 count[4], directory[8];
    if (!readAt (program, countAt, count, 4) || readInt (count) <= (juce::uint32) securityDirectory ||
        !readAt (program, countAt + 4 + 8 * securityDirectory, directory, 8))
        return total;

    // Only a table that ends the file: the archive then ends right before it.
    const auto tableOffset = (juce::int64) readInt (directory);
    const auto tableSize = (juce::int64) readInt (directory + 4);
    return tableOffset > 0 && tableSize > 0 && tableOffset + tableSize == total ? tableOffset : total;
}

std::unique_ptr<juce::InputSource> createArchiveSource (const juce::File& program)
{
    juce::FileInputStream input (program);
    if (!input.openedOk())
        return {};
    return std::make_unique<ProgramPartSource> (program, getLengthBeforeSignature (input));
}

juce::Result relocate (juce::MemoryBlock& archive, juce::int64 base)
{
    juce::MemoryInputStream input (archive, false);
    zip::ArchiveLayout layout;

    if (auto result = zip::readLayout (input, layout); result.failed())
        return result;

    if (layout.endRecordOffset + endRecordSize != (juce::int64) archive.getSize())
        return juce::Result::fail ("the archive already has a comment");

    auto* bytes = static_cast<juce::uint8*> (archive.getData());
    auto position = layout.centralDirectoryOffset;

    for (size_t i = 0; i < layout.entries.size(); ++i)
    {
        auto* header = bytes + position;
        if (!addToOffset (header + 42, base))
            return juce::Result::fail ("the program is too large for a ZIP archive");

        position += 46 + readShort (header + 28) + readShort (header + 30) + readShort (header + 32);
    }

    auto* end = bytes + layout.endRecordOffset;
    if (!addToOffset (end + 16, base))
        return juce::Result::fail ("the program is too large for a ZIP archive");

    const auto markerLength = (int) std::strlen (marker);
    end[20] = (juce::uint8) markerLength;
    end[21] = 0;
    archive.append (marker, (size_t) markerLength);
    return juce::Result::ok();
}

juce::int64 getSizeWithoutArchive (const juce::File& program)
{
    juce::FileInputStream input (program);
    if (!input.openedOk())
        return 0;

    const auto size = input.getTotalLength();
    const auto markerLength = (int) std::strlen (marker);
    juce::HeapBlock<juce::uint8> tail ((size_t) endRecordSize + (size_t) markerLength);

    if (size < endRecordSize + markerLength || !input.setPosition (size - endRecordSize - markerLength) ||
        input.read (tail, endRecordSize + markerLength) != endRecordSize + markerLength ||
        readInt (tail) != 0x06054b50 || readShort (tail + 20) != markerLength ||
        std::memcmp (tail + endRecordSize, marker, (size_t) markerLength) != 0)
        return size;

    zip::ArchiveLayout layout;
    if (zip::readLayout (input, layout).failed())
        return size;

    return layout.archiveStart;
}

juce::Result appendTo (const juce::File& program, const juce::MemoryBlock& archive)
{
    if (!program.existsAsFile())
        return juce::Result::fail ("no such file: " + program.getFullPathName());

    const auto base = getSizeWithoutArchive (program);
    auto relocated = archive;

    if (auto result = relocate (relocated, base); result.failed())
        return result;

    juce::FileOutputStream out (program);
    if (!out.openedOk() || !out.setPosition (base) || !out.write (relocated.getData(), relocated.getSize()))
        return juce::Result::fail ("cannot write " + program.getFullPathName());

    out.flush();
    if (auto truncated = out.truncate(); truncated.failed())
        return truncated;

    return out.getStatus();
}
} // namespace vfu::ProgramArchive
