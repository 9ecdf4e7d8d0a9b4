#include "packages/DeliveredPackage.h"

#include "packages/FirmwarePackageWriter.h"
#include "packages/FirmwareImage.h"

namespace vfu::DeliveredPackage
{
juce::MemoryBlock createPackage()
{
    const ArchiveWriter::Entry image{ juce::String (baseName) + ".syx",
                                      FirmwareImage::generate (deviceId, versionText, imageSize), false };

    // One line without a line end, and both entries stored: the package is deflated once, as a
    // whole, inside the program archive.
    const auto checksums = ArchiveWriter::createChecksumList ({ image }).trimEnd();
    const ArchiveWriter::Entry list{ juce::String (baseName) + ".sha",
                                     juce::MemoryBlock (checksums.toRawUTF8(), checksums.getNumBytesAsUTF8()), false };

    return ArchiveWriter::createArchive ({ list, image });
}

juce::MemoryBlock createProgramArchive()
{
    return createProgramArchive (createPackage());
}

juce::MemoryBlock createProgramArchive (const juce::MemoryBlock& package)
{
    const juce::String metadata = "Quillbox Firmware Updater: delivered firmware " + juce::String (versionText) + "\n";

    return ArchiveWriter::createArchive ({
        { packageFileName, package, true },
        { metadataEntryName, juce::MemoryBlock (metadata.toRawUTF8(), metadata.getNumBytesAsUTF8()), false },
    });
}
} // namespace vfu::DeliveredPackage
