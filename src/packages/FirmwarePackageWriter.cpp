#include "packages/FirmwarePackageWriter.h"

#include <juce_cryptography/juce_cryptography.h>

namespace vfu::ArchiveWriter
{
juce::MemoryBlock createArchive (const std::vector<Entry>& entries)
{
    // A fixed local time: ZIP stores local date fields, which then round-trip in any time zone.
    const juce::Time entryTime (2026, 0, 1, 0, 0, 0, 0, true);
    juce::ZipFile::Builder builder;

    for (auto& entry : entries)
        builder.addEntry (new juce::MemoryInputStream (entry.data, false), entry.deflate ? 9 : 0, entry.name,
                          entryTime);

    juce::MemoryBlock archive;
    {
        juce::MemoryOutputStream out (archive, false);
        builder.writeToStream (out, nullptr);
    }
    return archive;
}

juce::String createChecksumList (const std::vector<Entry>& images)
{
    juce::String text;

    for (auto& image : images)
        text << juce::SHA256 (image.data).toHexString() << " *" << image.name << "\n";

    return text;
}

juce::MemoryBlock createPackage (const juce::String& baseName, const std::vector<Entry>& images)
{
    const auto checksums = createChecksumList (images);
    std::vector<Entry> entries{ { baseName + ".sha",
                                  juce::MemoryBlock (checksums.toRawUTF8(), checksums.getNumBytesAsUTF8()) } };

    for (auto& image : images)
        entries.push_back ({ image.name, image.data, true });

    return createArchive (entries);
}
} // namespace vfu::ArchiveWriter
