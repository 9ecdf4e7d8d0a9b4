#pragma once

#include "packages/FirmwarePackageStore.h"
#include "packages/FirmwarePackageWriter.h"

#include <juce_cryptography/juce_cryptography.h>

#include <vector>

// Builders for the packages the package tests check: images, checksum lists written by hand, and
// byte-level edits of an archive's central directory.
namespace vfu::test::packages
{
using Entry = ArchiveWriter::Entry;

// A small SysEx message whose bytes depend on the seed.
inline juce::MemoryBlock makeImage (int seed, size_t size = 300)
{
    juce::MemoryBlock image (size);
    auto* bytes = static_cast<juce::uint8*> (image.getData());
    for (size_t i = 0; i < size; ++i)
        bytes[i] = (juce::uint8) ((i * 7 + (size_t) seed * 13) & 0x7f);

    bytes[0] = 0xf0;
    bytes[size - 1] = 0xf7;
    return image;
}

inline juce::MemoryBlock textBlock (const juce::String& text)
{
    return { text.toRawUTF8(), text.getNumBytesAsUTF8() };
}

inline juce::String digestOf (const juce::MemoryBlock& data)
{
    return juce::SHA256 (data).toHexString();
}

inline juce::MemoryBlock makeArchive (const std::vector<Entry>& entries)
{
    return ArchiveWriter::createArchive (entries);
}

// A well-formed package "<baseName>.vfw" holding one image "<imageBaseName>.syx".
inline juce::MemoryBlock makePackage (const juce::String& baseName, const juce::String& imageName,
                                      const juce::MemoryBlock& image)
{
    return ArchiveWriter::createPackage (baseName, { { imageName, image } });
}

inline juce::File writeFile (const juce::File& file, const juce::MemoryBlock& data)
{
    file.getParentDirectory().createDirectory();
    file.replaceWithData (data.getData(), data.getSize());
    return file;
}

inline int check (const juce::MemoryBlock& package, juce::String* reason = nullptr)
{
    return FirmwarePackageStore::checkPackageData (package, reason);
}

inline juce::String rejectionOf (const juce::MemoryBlock& package)
{
    juce::String reason;
    check (package, &reason);
    return reason;
}

// Byte access to the central directory of an archive written by ArchiveWriter (no comment).
struct CentralDirectory
{
    explicit CentralDirectory (juce::MemoryBlock& a) : archive (a) {}

    juce::uint8* bytes() { return static_cast<juce::uint8*> (archive.getData()); }
    juce::uint8* endRecord() { return bytes() + archive.getSize() - 22; }
    juce::uint32 readInt (const juce::uint8* p) { return juce::ByteOrder::littleEndianInt (p); }
    juce::uint16 readShort (const juce::uint8* p) { return juce::ByteOrder::littleEndianShort (p); }
    void writeInt (juce::uint8* p, juce::uint32 v)
    {
        for (int i = 0; i < 4; ++i)
            p[i] = (juce::uint8) (v >> (8 * i));
    }

    // The central header of entry `index`.
    juce::uint8* header (int index)
    {
        auto* p = bytes() + readInt (endRecord() + 16);
        for (int i = 0; i < index; ++i)
            p += 46 + readShort (p + 28) + readShort (p + 30) + readShort (p + 32);
        return p;
    }

    void setCompressedSize (int index, juce::uint32 size) { writeInt (header (index) + 20, size); }
    void setUncompressedSize (int index, juce::uint32 size) { writeInt (header (index) + 24, size); }
    void setLocalHeaderOffset (int index, juce::uint32 offset) { writeInt (header (index) + 42, offset); }
    juce::uint32 getLocalHeaderOffset (int index) { return readInt (header (index) + 42); }
    void setCentralDirectoryOffset (juce::uint32 offset) { writeInt (endRecord() + 16, offset); }
    void setNumEntries (juce::uint16 n)
    {
        endRecord()[8] = endRecord()[10] = (juce::uint8) n;
        endRecord()[9] = endRecord()[11] = (juce::uint8) (n >> 8);
    }

    juce::MemoryBlock& archive;
};
} // namespace vfu::test::packages
