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
} // namespace

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
