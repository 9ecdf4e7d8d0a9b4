// The check of one package held in memory, in the order its rejections are given: the archive's
// layout, the entries' sizes, the entries read, the signature, the images against the checksum
// list, and the version the list's name gives.

#include "packages/FirmwarePackageStoreImpl.h"

#include "core/TextFromBytes.h"
#include "packages/SysexSequence.h"

#include <juce_cryptography/juce_cryptography.h>

namespace vfu
{
using packagestore::reject;

namespace
{
constexpr int digestLength = 64, separatorLength = 2;

// The entry names a checksum list vouches for: every line "<64 hex digits><2 characters><name>",
// as sha256sum writes them (" *" or two blanks); other lines name nothing.
juce::StringArray namesInChecksumList (const juce::String& checksumText)
{
    juce::StringArray lines, names;
    lines.addLines (checksumText);

    for (auto& line : lines)
    {
        const auto digest = line.substring (0, digestLength);
        const auto name = line.substring (digestLength + separatorLength).trimEnd();
        if (digest.length() == digestLength && digest.containsOnly ("0123456789abcdefABCDEF") && name.isNotEmpty())
            names.add (name);
    }

    return names;
}

// Why an image cannot be sent as it stands (empty, or not whole SysEx messages), or empty: the
// erase goes out only when what follows it can be sent.
juce::String findImageProblem (const juce::String& entryName, const juce::MemoryBlock& image)
{
    if (image.isEmpty())
        return "empty image: " + entryName;

    const auto problem = SysexSequence::findProblem (image.getData(), image.getSize());
    return problem.isEmpty() ? juce::String() : "not a SysEx image: " + entryName + " (" + problem + ")";
}

// What the check takes from the entries, each read once.
struct PackageContents
{
    struct Image
    {
        juce::String name;
        juce::String digest;
        juce::String problem; // why it cannot be sent, told once its digest has been checked
    };

    std::vector<Image> images;
    bool hasChecksumList = false;
    juce::String checksumText, checksumEntryName; // the last ".sha" entry's
    juce::MemoryBlock checksumBytes;
    std::vector<PackageSignature::SignatureEntry> signatures;

    juce::StringArray getImageNames() const
    {
        juce::StringArray names;
        for (auto& image : images)
            names.add (image.name);

        return names;
    }
};

// Refuses an empty archive, an oversized image and images too large together, from the sizes the
// directory declares and before anything is read.
juce::String findSizeProblem (const zip::ArchiveLayout& layout)
{
    if (layout.entries.empty())
        return "empty archive";

    juce::int64 totalImageSize = 0;
    for (auto& entry : layout.entries)
    {
        if (entry.name.endsWith (".syx"))
        {
            if (entry.uncompressedSize > FirmwarePackageStore::maximumImageSize)
                return "image too large: " + entry.name;

            totalImageSize += entry.uncompressedSize;
        }
    }

    return totalImageSize > FirmwarePackageStore::maximumTotalImageSize ? "package too large" : juce::String();
}

// An image: its digest, and why it cannot be sent, kept to be told after the digest check. It is
// within its limit already (findSizeProblem).
bool readImageEntry (zip::MemoryArchive& archive, int index, PackageContents& contents)
{
    const auto& name = archive.getLayout().entries[(size_t) index].name;
    juce::MemoryBlock data;
    if (!archive.readEntry (index, FirmwarePackageStore::maximumImageSize, data))
        return false;

    contents.images.push_back ({ name, juce::SHA256 (data).toHexString(), findImageProblem (name, data) });
    return true;
}

// The checksum list, as text; a later one replaces an earlier one.
bool readChecksumEntry (zip::MemoryArchive& archive, int index, PackageContents& contents)
{
    juce::MemoryBlock data;
    if (!archive.readEntry (index, FirmwarePackageStore::maximumChecksumListSize, data))
        return false;

    // Any bytes are text: UTF-16 with a byte order mark, UTF-8, or else one byte per character (a
    // list written by a Windows shell, a Latin-1 comment).
    contents.checksumText = textFromBytes (data.getData(), data.getSize());
    contents.checksumEntryName = archive.getLayout().entries[(size_t) index].name;
    contents.checksumBytes = std::move (data);
    contents.hasChecksumList = true;
    return true;
}

// A signature entry, read only when small enough to be one; the verdict names an oversized one.
bool readSignatureEntry (zip::MemoryArchive& archive, int index, PackageContents& contents)
{
    constexpr auto limit = (juce::int64) PackageSignature::maximumSignatureEntrySize;
    const auto& entry = archive.getLayout().entries[(size_t) index];
    PackageSignature::SignatureEntry signature{ entry.name, entry.uncompressedSize, {} };
    if (entry.uncompressedSize <= limit && !archive.readEntry (index, limit, signature.data))
        return false;

    contents.signatures.push_back (std::move (signature));
    return true;
}

// Reads the images, the checksum list and the signature entries in the archive's order; "damaged
// archive" for one that does not read whole.
juce::String readContents (zip::MemoryArchive& archive, PackageContents& contents)
{
    for (int i = 0; i < archive.getNumEntries(); ++i)
    {
        const auto& entry = archive.getLayout().entries[(size_t) i];
        bool read = true;

        if (entry.name.endsWith (".syx"))
        {
            read = readImageEntry (archive, i, contents);
        }
        else if (entry.name.endsWith (".sha"))
        {
            if (entry.uncompressedSize > FirmwarePackageStore::maximumChecksumListSize)
                return "checksum list too large: " + entry.name;

            read = readChecksumEntry (archive, i, contents);
        }
        else if (entry.name.endsWith (".sig"))
        {
            read = readSignatureEntry (archive, i, contents);
        }

        if (!read)
            return "damaged archive";
    }

    return {};
}

// A signature entry that fails refuses the package, and so does none when the trust requires one.
juce::String findSignatureProblem (const PackageSignature::Verdict& signature, const PackageSignature::Trust& trust)
{
    if (signature.status == PackageSignature::Verdict::Status::invalid)
        return signature.reason;

    if (signature.status == PackageSignature::Verdict::Status::unsigned_ && trust.requireSigned)
        return "unsigned package";

    return {};
}

// Each image must be in the checksum list with its digest and be sendable; a signed list vouches
// for its images as a set, so one it names must be there, under that exact name, or the
// signature would pass for a package that cannot be sent whole.
juce::String findImageListProblem (const PackageContents& contents, const PackageSignature::Verdict& signature)
{
    const auto& checksumText = contents.checksumText;
    for (auto& image : contents.images)
    {
        const auto at = checksumText.indexOf (image.name);
        if (at < digestLength + separatorLength)
            return "image missing from the checksum list: " + image.name;

        const auto expected = checksumText.substring (at - separatorLength - digestLength, at - separatorLength);
        if (!expected.equalsIgnoreCase (image.digest))
            return "digest mismatch: " + image.name;

        if (image.problem.isNotEmpty())
            return image.problem;
    }

    if (signature.status == PackageSignature::Verdict::Status::valid)
    {
        const auto imageNames = contents.getImageNames();
        for (auto& listed : namesInChecksumList (checksumText))
            if (!imageNames.contains (listed))
                return "image in the signed checksum list missing: " + listed;
    }

    return {};
}
} // namespace

int FirmwarePackageStore::checkPackage (juce::InputStream& stream, juce::String* rejectionReason)
{
    juce::MemoryBlock package;
    if (!stream.setPosition (0))
        return reject (rejectionReason, "unreadable");

    if (!zip::readAtMost (stream, maximumPackageSize, package))
        return reject (rejectionReason, "package too large");

    return checkPackageData (package, rejectionReason);
}

int FirmwarePackageStore::checkPackageData (const juce::MemoryBlock& package, juce::String* rejectionReason)
{
    return checkPackageData (package, PackageSignature::Trust::builtIn(), rejectionReason);
}

int FirmwarePackageStore::checkPackageData (const juce::MemoryBlock& package, const PackageSignature::Trust& trust,
                                            juce::String* rejectionReason, PackageSignature::Verdict* signatureOut,
                                            juce::StringArray* imageNamesOut)
{
    zip::MemoryArchive archive;
    if (auto opened = archive.open (package); opened.failed())
        return reject (rejectionReason, opened.getErrorMessage());

    if (const auto problem = findSizeProblem (archive.getLayout()); problem.isNotEmpty())
        return reject (rejectionReason, problem);

    PackageContents contents;
    if (const auto problem = readContents (archive, contents); problem.isNotEmpty())
        return reject (rejectionReason, problem);

    if (!contents.hasChecksumList)
        return reject (rejectionReason, "no checksum list");

    // The signature is checked before the list is trusted for the digests.
    auto signature =
        PackageSignature::verify (contents.checksumEntryName, contents.checksumBytes, contents.signatures, trust);
    signature.checked = true;
    if (signatureOut != nullptr)
        *signatureOut = signature;

    if (const auto problem = findSignatureProblem (signature, trust); problem.isNotEmpty())
        return reject (rejectionReason, problem);

    if (const auto problem = findImageListProblem (contents, signature); problem.isNotEmpty())
        return reject (rejectionReason, problem);

    const auto version = versionFromChecksumEntryName (contents.checksumEntryName);
    if (version < 0)
        return reject (rejectionReason, "no version in the checksum entry's name");

    if (imageNamesOut != nullptr)
        *imageNamesOut = contents.getImageNames();

    return version;
}

int FirmwarePackageStore::versionFromChecksumEntryName (const juce::String& entryName)
{
    auto baseName = entryName.fromLastOccurrenceOf ("\\", false, false);
    if (baseName.containsChar ('.'))
        baseName = baseName.upToLastOccurrenceOf (".", false, false);

    const auto versionText = baseName.fromLastOccurrenceOf ("-", false, false).replace ("fw.", "");
    return versionText.length() == baseName.length() ? -1 : packagestore::parseVersion (versionText);
}
} // namespace vfu
