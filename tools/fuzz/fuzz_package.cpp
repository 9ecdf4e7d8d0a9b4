// A firmware package: the bytes as a whole package through checkPackage over a MemoryInputStream,
// and the bytes as the checksum list (".sha" text) of an otherwise well-formed package.
#include "FuzzSupport.h"

#include "packages/FirmwarePackageStore.h"
#include "packages/FirmwarePackageWriter.h"

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    vfu::fuzz::initialiseOnce();

    juce::MemoryInputStream stream (data, size, false);
    juce::String reason;
    const auto version = vfu::FirmwarePackageStore::checkPackage (stream, &reason);
    if (version < 0 && reason.isEmpty())
        __builtin_trap(); // a rejection always has a reason

    // The checksum list path: one fixed image, the input as its list.
    static const juce::MemoryBlock image = []
    {
        juce::MemoryBlock block (64, true);
        auto* bytes = static_cast<juce::uint8*> (block.getData());
        bytes[0] = 0xf0;
        bytes[63] = 0xf7;
        return block;
    }();

    const juce::MemoryBlock checksumText (data, size);
    const auto package = vfu::ArchiveWriter::createArchive ({ { "quillbox-fw-2.2.1.sha", checksumText, true },
                                                              { "quillbox-2.2.1.syx", image, true } });
    (void) vfu::FirmwarePackageStore::checkPackageData (package, &reason);
    (void) vfu::FirmwarePackageStore::versionFromChecksumEntryName (vfu::fuzz::textOf (data, juce::jmin<size_t> (size, 200)));
    return 0;
}
