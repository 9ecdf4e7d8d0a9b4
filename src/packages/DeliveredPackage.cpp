#include "packages/DeliveredPackage.h"

#include "packages/FirmwarePackageWriter.h"
#include "packages/FirmwareImage.h"

namespace vfu::DeliveredPackage
{
juce::MemoryBlock createPackage()
{
    const auto image = FirmwareImage::generate (deviceId, versionText, imageSize);
    return ArchiveWriter::createPackage (baseName, { { juce::String (baseName) + ".syx", image } });
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
