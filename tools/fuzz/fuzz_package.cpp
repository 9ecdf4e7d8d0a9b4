// A firmware package: the bytes as a whole package through checkPackage over a MemoryInputStream,
// as the checksum list (".sha" text) of an otherwise well-formed package, as its signature entry
// (".sig", checked against the built-in keys), and as the text of key files.
#include "FuzzSupport.h"

#include "packages/FirmwarePackageStore.h"
#include "packages/FirmwarePackageWriter.h"
#include "packages/PackageSignature.h"

namespace
{
void trapUnless (bool condition)
{
    if (!condition)
        __builtin_trap();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    vfu::fuzz::initialiseOnce();
    namespace sig = vfu::PackageSignature;

    juce::MemoryInputStream stream (data, size, false);
    juce::String reason;
    const auto version = vfu::FirmwarePackageStore::checkPackage (stream, &reason);
    trapUnless (version >= 0 || reason.isNotEmpty()); // a rejection always has a reason

    // The checksum list path: one fixed image, the input as its list.
    static const juce::MemoryBlock image = []
    {
        juce::MemoryBlock block (64, true);
        auto* bytes = static_cast<juce::uint8*> (block.getData());
        bytes[0] = 0xf0;
        bytes[63] = 0xf7;
        return block;
    }();

    const juce::MemoryBlock input (data, size);
    const auto package = vfu::ArchiveWriter::createArchive (
        { { "quillbox-fw-2.2.1.sha", input, true }, { "quillbox-2.2.1.syx", image, true } });
    (void) vfu::FirmwarePackageStore::checkPackageData (package, &reason);
    (void) vfu::FirmwarePackageStore::versionFromChecksumEntryName (
        vfu::fuzz::textOf (data, juce::jmin<size_t> (size, 200)));

    // The signature path: the input as the one signature entry beside a well-formed list, directly
    // and inside a package.
    static const juce::String listText =
        vfu::ArchiveWriter::createChecksumList ({ { "quillbox-fw-2.2.1.syx", image, true } });
    static const juce::MemoryBlock list (listText.toRawUTF8(), listText.getNumBytesAsUTF8());

    const auto verdict =
        sig::verify ("quillbox-fw-2.2.1.sha", list, { { "quillbox-fw-2.2.1.sig", (juce::int64) size, input } },
                     sig::Trust::builtIn());
    trapUnless (verdict.status != sig::Verdict::Status::invalid || verdict.reason.isNotEmpty());
    trapUnless (verdict.status != sig::Verdict::Status::valid || size >= sig::signatureLineLength);

    const auto signedPackage = vfu::ArchiveWriter::createArchive ({ { "quillbox-fw-2.2.1.sha", list, false },
                                                                    { "quillbox-fw-2.2.1.sig", input, false },
                                                                    { "quillbox-fw-2.2.1.syx", image, true } });
    sig::Verdict inPackage;
    const auto signedVersion =
        vfu::FirmwarePackageStore::checkPackageData (signedPackage, sig::Trust::builtIn(), &reason, &inPackage);
    trapUnless ((signedVersion >= 0) == (inPackage.status != sig::Verdict::Status::invalid));

    // Key files.
    const auto text = vfu::fuzz::textOf (data, juce::jmin<size_t> (size, 4096));
    sig::PublicKey publicKey;
    sig::SecretKey secretKey;
    (void) sig::parsePublicKeyFile (text, publicKey);
    (void) sig::parseSecretKeyFile (text, secretKey);
    return 0;
}
