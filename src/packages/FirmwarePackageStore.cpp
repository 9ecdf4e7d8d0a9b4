#include "packages/FirmwarePackageStore.h"

#include "core/FileKind.h"
#include "packages/ProgramArchive.h"
#include "core/Log.h"
#include "core/TextFromBytes.h"
#include "packages/SysexSequence.h"
#include "packages/ZipArchiveLayout.h"
#include "core/VersionNumber.h"

#include <juce_cryptography/juce_cryptography.h>

namespace vfu
{
namespace
{
int parseVersion (const juce::String& text)
{
    return parseVersionNumber (text);
}
juce::String formatVersion (int number)
{
    return formatVersionNumber (number);
}

// Reads one entry whole, refusing more bytes than its header declared (or than the limit), and
// fewer: a deflate stream that does not match its sizes is damaged. An entry that JUCE cannot
// read (encrypted, or compressed with another method) is refused here, where it is read.
bool readEntry (juce::ZipFile& zip, int index, const zip::EntryLayout& entry, juce::int64 limit,
                juce::MemoryBlock& data)
{
    if (entry.uncompressedSize > limit || !zip::isReadable (entry))
        return false;

    std::unique_ptr<juce::InputStream> stream (zip.createStreamForEntry (index));
    return stream != nullptr && zip::readAtMost (*stream, entry.uncompressedSize, data) &&
           (juce::int64) data.getSize() == entry.uncompressedSize;
}

int reject (juce::String* reasonOut, const juce::String& reason)
{
    if (reasonOut != nullptr)
        *reasonOut = reason;

    return -1;
}

// The entry names a checksum list vouches for: every line "<64 hex digits><2 characters><name>",
// as sha256sum writes them (" *" or two blanks); other lines name nothing.
juce::StringArray namesInChecksumList (const juce::String& checksumText)
{
    constexpr int digestLength = 64, separatorLength = 2;
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

// The first image a transfer would read ("$(version)" replaced, ".syx" appended) that the package
// does not hold, or empty when it holds them all.
juce::String findMissingImage (const juce::StringArray& requiredKinds, const juce::String& versionText,
                               const juce::StringArray& imageNames)
{
    for (auto& kind : requiredKinds)
    {
        const auto entryName = kind.replace ("$(version)", versionText) + ".syx";
        if (!imageNames.contains (entryName))
            return entryName;
    }

    return {};
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

bool sameSigner (const vfu::PackageSignature::Verdict& a, const vfu::PackageSignature::Verdict& b)
{
    return a.status == b.status && a.keyId == b.keyId;
}
} // namespace

struct FirmwarePackageStore::Impl
{
    struct Package
    {
        std::unique_ptr<juce::InputStream> stream;
        size_t findingIndex;
        PackageSignature::Verdict signature; // as collection saw it; a transfer requires the same
    };

    // Declared before the table: the table's streams may read from the program archive.
    std::unique_ptr<juce::ZipFile> programArchive;
    std::map<int, Package> table;
    std::vector<Finding> findings;
    PackageSignature::Trust trust = PackageSignature::Trust::builtIn();
    juce::StringArray requiredImageKinds; // the messageKinds whose images every package must hold

    // Guards the table and the selection; readSelectedImage holds it while it reads.
    mutable std::mutex lock;
    juce::InputStream* selectedStream = nullptr; // one of the table's streams
    juce::String selectedVersionText;
    juce::String selectedSource;
    PackageSignature::Verdict selectedSignature;

    // The package check, and then the images the transfers need, named with the package's version.
    int checkForCollection (const juce::MemoryBlock& data, juce::String& reason,
                            PackageSignature::Verdict& signature) const
    {
        juce::StringArray imageNames;
        const auto version = checkPackageData (data, trust, &reason, &signature, &imageNames);
        if (version < 0)
            return version;

        const auto missing = findMissingImage (requiredImageKinds, formatVersion (version), imageNames);
        return missing.isEmpty() ? version : reject (&reason, "required image missing: " + missing);
    }

    void store (int versionNumber, std::unique_ptr<juce::InputStream> stream, const juce::String& source,
                const PackageSignature::Verdict& signature)
    {
        using Status = PackageSignature::Verdict::Status;
        auto existing = table.find (versionNumber);
        if (existing != table.end())
        {
            // An unsigned package never displaces a signed one of the same version.
            if (existing->second.signature.status == Status::valid && signature.status != Status::valid)
                return addRejection (source, "a signed package of the same version is kept: " +
                                                 findings[existing->second.findingIndex].source);

            findings[existing->second.findingIndex].reason = "replaced by " + source;
        }

        findings.push_back ({ source, versionNumber, {}, signature.describe (trust) });
        table[versionNumber] = { std::move (stream), findings.size() - 1, signature };
    }

    // Reads the selected package again and checks it as collection did: its check, its version,
    // every image the transfers need, and the same signer. The caller holds the lock.
    ImageReadResult recheckSelected (juce::MemoryBlock& package, PackageSignature::Verdict& signature,
                                     juce::String* failureDetail) const
    {
        if (selectedStream == nullptr)
            return ImageReadResult::noPackageSelected;

        auto& stream = *selectedStream;
        if (!stream.setPosition (0) || !zip::readAtMost (stream, maximumPackageSize, package))
            return ImageReadResult::packageUnreadable;

        auto fail = [failureDetail] (const juce::String& detail)
        {
            if (failureDetail != nullptr)
                *failureDetail = detail;

            return ImageReadResult::packageCheckFailed;
        };

        juce::String reason;
        juce::StringArray imageNames;
        const auto version = checkPackageData (package, trust, &reason, &signature, &imageNames);
        if (version < 0)
            return fail (reason);

        if (version != parseVersion (selectedVersionText))
            return fail ("it now gives version " + formatVersion (version));

        if (!sameSigner (signature, selectedSignature))
            return fail (selectedSignature.describe (trust) + " when collected, now " + signature.describe (trust));

        if (const auto missing = findMissingImage (requiredImageKinds, selectedVersionText, imageNames);
            missing.isNotEmpty())
            return fail ("required image missing: " + missing);

        return ImageReadResult::ok;
    }

    void addRejection (const juce::String& source, const juce::String& reason)
    {
        findings.push_back ({ source, -1, reason, {} });
    }

    void collectFromProgramFile (const juce::File& programFile)
    {
        const auto path = programFile.getFullPathName();
        if (const auto notRegular = whyNotARegularFile (programFile); notRegular.isNotEmpty())
            return addRejection (path, notRegular);

        zip::ArchiveLayout layout;

        // Up to a signed Windows program's certificate table, which follows the archive.
        auto archiveSource = ProgramArchive::createArchiveSource (programFile);
        {
            std::unique_ptr<juce::InputStream> input (archiveSource != nullptr ? archiveSource->createInputStream()
                                                                               : nullptr);
            if (input == nullptr)
                return addRejection (path, "unreadable");

            auto result = zip::readLayout (*input, layout);
            if (result.failed())
                return addRejection (path, result.getErrorMessage());
        }

        programArchive = std::make_unique<juce::ZipFile> (archiveSource.release());
        if (!zip::matchesZipFile (layout, *programArchive))
        {
            programArchive.reset();
            return addRejection (path, "damaged archive");
        }

        for (int i = 0; i < programArchive->getNumEntries(); ++i)
        {
            const auto& entry = layout.entries[(size_t) i];
            if (!zip::hasPackageExtension (entry.name))
                continue;

            const auto source = path + "!" + entry.name;
            if (entry.uncompressedSize > maximumPackageSize)
            {
                addRejection (source, "package too large");
                continue;
            }

            juce::MemoryBlock data;
            if (!readEntry (*programArchive, i, entry, maximumPackageSize, data))
            {
                addRejection (source, "damaged archive");
                continue;
            }

            juce::String reason;
            PackageSignature::Verdict signature;
            const auto version = checkForCollection (data, reason, signature);
            if (version < 0)
            {
                addRejection (source, reason);
                continue;
            }

            std::unique_ptr<juce::InputStream> stream (programArchive->createStreamForEntry (i));
            if (stream == nullptr)
                addRejection (source, "unreadable");
            else
                store (version, std::move (stream), source, signature);
        }
    }

    void collectFromFile (const juce::File& file)
    {
        const auto path = file.getFullPathName();
        if (const auto notRegular = whyNotARegularFile (file); notRegular.isNotEmpty())
            return addRejection (path, notRegular);

        int version = -1;
        PackageSignature::Verdict signature;

        {
            juce::FileInputStream input (file);
            if (!input.openedOk())
                return addRejection (path, "unreadable");

            if (input.getTotalLength() > maximumPackageSize)
                return addRejection (path, "package too large");

            juce::MemoryBlock data;
            if (!zip::readAtMost (input, maximumPackageSize, data))
                return addRejection (path, "package too large");

            juce::String reason;
            version = checkForCollection (data, reason, signature);
            if (version < 0)
                return addRejection (path, reason);
        }

        auto stream = std::make_unique<juce::FileInputStream> (file);
        if (!stream->openedOk())
            return addRejection (path, "unreadable");

        store (version, std::move (stream), path, signature);
    }

    void collectFromPath (const juce::File& path)
    {
        if (path.isDirectory())
        {
            auto children = path.findChildFiles (juce::File::findFilesAndDirectories, false, "*.vfw");
            children.sort(); // the order within one folder only matters for equal versions

            for (auto& child : children)
            {
                if (child.isDirectory())
                    addRejection (child.getFullPathName(), "a folder");
                else
                    collectFromFile (child);
            }
        }
        else if (path.existsAsFile())
        {
            collectFromFile (path);
        }
        else
        {
            addRejection (path.getFullPathName(), "not found");
        }
    }
};

FirmwarePackageStore::FirmwarePackageStore() : impl (std::make_unique<Impl>()) {}

FirmwarePackageStore::~FirmwarePackageStore() = default;

void FirmwarePackageStore::setTrust (const PackageSignature::Trust& trust)
{
    std::lock_guard<std::mutex> guard (impl->lock);
    impl->trust = trust;
}

void FirmwarePackageStore::setRequiredImages (const juce::StringArray& messageKinds)
{
    std::lock_guard<std::mutex> guard (impl->lock);
    impl->requiredImageKinds = messageKinds;
}

juce::StringArray FirmwarePackageStore::getRequiredImages() const
{
    std::lock_guard<std::mutex> guard (impl->lock);
    return impl->requiredImageKinds;
}

void FirmwarePackageStore::collect (const juce::File& programFile, const juce::Array<juce::File>& searchPaths)
{
    // Collection builds a new table and then swaps it in, so a second call leaves no stale selection.
    Impl fresh;
    {
        std::lock_guard<std::mutex> guard (impl->lock);
        fresh.trust = impl->trust;
        fresh.requiredImageKinds = impl->requiredImageKinds;
    }

    if (programFile != juce::File() && !programFile.isDirectory())
        fresh.collectFromProgramFile (programFile);

    for (auto& path : searchPaths)
        fresh.collectFromPath (path);

    std::lock_guard<std::mutex> guard (impl->lock);
    impl->selectedStream = nullptr;
    impl->selectedVersionText.clear();
    impl->table.clear();
    impl->programArchive = std::move (fresh.programArchive);
    impl->table = std::move (fresh.table);
    impl->findings = std::move (fresh.findings);
}

juce::StringArray FirmwarePackageStore::getFirmwareVersions() const
{
    std::lock_guard<std::mutex> guard (impl->lock);
    juce::StringArray versions;

    for (auto& [number, package] : impl->table)
        versions.add (formatVersion (number));

    return versions;
}

juce::String FirmwarePackageStore::getLatestFirmwareVersion() const
{
    auto versions = getFirmwareVersions();
    return versions.isEmpty() ? juce::String() : versions[versions.size() - 1];
}

bool FirmwarePackageStore::setFirmwareVersion (const juce::String& versionText)
{
    const auto number = parseVersion (versionText);
    std::lock_guard<std::mutex> guard (impl->lock);

    auto found = impl->table.find (number);
    if (found == impl->table.end())
        return false;

    impl->selectedStream = found->second.stream.get();
    impl->selectedVersionText = versionText;
    impl->selectedSource = impl->findings[found->second.findingIndex].source;
    impl->selectedSignature = found->second.signature;
    return true;
}

juce::String FirmwarePackageStore::getSelectedVersionText() const
{
    std::lock_guard<std::mutex> guard (impl->lock);
    return impl->selectedVersionText;
}

FirmwarePackageStore::ImageReadResult FirmwarePackageStore::readSelectedImage (const juce::String& messageKind,
                                                                               juce::MemoryBlock& image,
                                                                               juce::String& entryName,
                                                                               juce::String& versionText,
                                                                               juce::String* failureDetail) const
{
    image.reset();
    std::lock_guard<std::mutex> guard (impl->lock);

    if (impl->selectedStream == nullptr)
        return ImageReadResult::noPackageSelected;

    versionText = impl->selectedVersionText;
    entryName = messageKind.replace ("$(version)", versionText) + ".syx";

    // The package is read into memory again and checked again as a whole (a file may have changed
    // since collection), so that what is sent is what the checksum list and its signature vouch
    // for; JUCE is never handed a lying header.
    juce::MemoryBlock package;
    PackageSignature::Verdict signature;
    if (const auto result = impl->recheckSelected (package, signature, failureDetail); result != ImageReadResult::ok)
        return result;

    // The check has just read this layout from these same bytes, so it holds; JUCE is only handed
    // an archive whose layout was read first.
    juce::MemoryInputStream input (package, false);
    zip::ArchiveLayout layout;
    if (zip::readLayout (input, layout).failed())
        return ImageReadResult::packageCheckFailed;

    juce::ZipFile zip (input);
    if (!zip::matchesZipFile (layout, zip))
        return ImageReadResult::packageCheckFailed;

    const auto index = zip.getIndexOfFileName (entryName);
    if (index < 0)
        return ImageReadResult::entryMissing;

    if (!readEntry (zip, index, layout.entries[(size_t) index], maximumImageSize, image))
    {
        image.reset();
        return ImageReadResult::entryUnreadable;
    }

    // Says which package is sent and who signed it, as checked just now.
    writeLog ("Firmware package " + versionText + " (" + impl->selectedSource + "): '" + entryName + "', " +
              signature.describe (impl->trust));
    return ImageReadResult::ok;
}

FirmwarePackageStore::ImageReadResult FirmwarePackageStore::readSelectedImages (CheckedImages& checked,
                                                                                juce::String* failureDetail) const
{
    checked = {};
    std::lock_guard<std::mutex> guard (impl->lock);

    juce::MemoryBlock package;
    PackageSignature::Verdict signature;
    if (const auto result = impl->recheckSelected (package, signature, failureDetail); result != ImageReadResult::ok)
        return result;

    juce::MemoryInputStream input (package, false);
    zip::ArchiveLayout layout;
    if (zip::readLayout (input, layout).failed())
        return ImageReadResult::packageCheckFailed;

    juce::ZipFile zip (input);
    if (!zip::matchesZipFile (layout, zip))
        return ImageReadResult::packageCheckFailed;

    const auto versionText = impl->selectedVersionText;
    for (auto& kind : impl->requiredImageKinds)
    {
        const auto entryName = kind.replace ("$(version)", versionText) + ".syx";
        const auto index = zip.getIndexOfFileName (entryName);
        if (index < 0)
        {
            checked = {};
            return ImageReadResult::entryMissing;
        }

        auto& image = checked.images[entryName];
        if (!readEntry (zip, index, layout.entries[(size_t) index], maximumImageSize, image))
        {
            checked = {};
            return ImageReadResult::entryUnreadable;
        }
    }

    checked.versionText = versionText;
    writeLog ("Firmware package " + versionText + " (" + impl->selectedSource +
              "): " + juce::String ((int) checked.images.size()) + " image(s) read and checked, " +
              signature.describe (impl->trust));
    return ImageReadResult::ok;
}

FirmwarePackageStore::ImageReadResult FirmwarePackageStore::checkSelectedPackage (juce::String* failureDetail) const
{
    std::lock_guard<std::mutex> guard (impl->lock);
    juce::MemoryBlock package;
    PackageSignature::Verdict signature;
    return impl->recheckSelected (package, signature, failureDetail);
}

std::vector<FirmwarePackageStore::Finding> FirmwarePackageStore::getFindings() const
{
    std::lock_guard<std::mutex> guard (impl->lock);
    return impl->findings;
}

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
    juce::MemoryInputStream input (package, false);
    zip::ArchiveLayout layout;

    if (auto result = zip::readLayout (input, layout); result.failed())
        return reject (rejectionReason, result.getErrorMessage());

    juce::ZipFile zip (input);
    if (!zip::matchesZipFile (layout, zip))
        return reject (rejectionReason, "damaged archive");

    if (layout.entries.empty())
        return reject (rejectionReason, "empty archive");

    juce::int64 totalImageSize = 0;
    for (auto& entry : layout.entries)
    {
        if (entry.name.endsWith (".syx"))
        {
            if (entry.uncompressedSize > maximumImageSize)
                return reject (rejectionReason, "image too large: " + entry.name);

            totalImageSize += entry.uncompressedSize;
        }
    }

    if (totalImageSize > maximumTotalImageSize)
        return reject (rejectionReason, "package too large");

    struct Image
    {
        juce::String name;
        juce::String digest;
        juce::String problem; // why it cannot be sent, told once its digest has been checked
    };
    std::vector<Image> images;
    juce::String checksumText, checksumEntryName;
    juce::MemoryBlock checksumBytes;
    bool hasChecksumList = false;
    std::vector<PackageSignature::SignatureEntry> signatures;

    for (int i = 0; i < zip.getNumEntries(); ++i)
    {
        const auto& entry = layout.entries[(size_t) i];
        juce::MemoryBlock data;

        if (entry.name.endsWith (".syx"))
        {
            if (entry.uncompressedSize > maximumImageSize)
                return reject (rejectionReason, "image too large: " + entry.name);

            if (!readEntry (zip, i, entry, maximumImageSize, data))
                return reject (rejectionReason, "damaged archive");

            images.push_back ({ entry.name, juce::SHA256 (data).toHexString(), findImageProblem (entry.name, data) });
        }
        else if (entry.name.endsWith (".sha"))
        {
            if (entry.uncompressedSize > maximumChecksumListSize)
                return reject (rejectionReason, "checksum list too large: " + entry.name);

            if (!readEntry (zip, i, entry, maximumChecksumListSize, data))
                return reject (rejectionReason, "damaged archive");

            // Any bytes are text: UTF-16 with a byte order mark, UTF-8, or else one byte per
            // character (a list written by a Windows shell, a Latin-1 comment).
            checksumText = textFromBytes (data.getData(), data.getSize());
            checksumEntryName = entry.name;
            checksumBytes = std::move (data);
            hasChecksumList = true;
        }
        else if (entry.name.endsWith (".sig"))
        {
            // Read only when small enough to be one; the verdict names an oversized one.
            PackageSignature::SignatureEntry signature{ entry.name, entry.uncompressedSize, {} };
            if (entry.uncompressedSize <= (juce::int64) PackageSignature::maximumSignatureEntrySize &&
                !readEntry (zip, i, entry, (juce::int64) PackageSignature::maximumSignatureEntrySize, signature.data))
                return reject (rejectionReason, "damaged archive");

            signatures.push_back (std::move (signature));
        }
    }

    if (!hasChecksumList)
        return reject (rejectionReason, "no checksum list");

    // The signature is checked before the list is trusted for the digests.
    auto signature = PackageSignature::verify (checksumEntryName, checksumBytes, signatures, trust);
    signature.checked = true;
    if (signatureOut != nullptr)
        *signatureOut = signature;

    if (signature.status == PackageSignature::Verdict::Status::invalid)
        return reject (rejectionReason, signature.reason);

    if (signature.status == PackageSignature::Verdict::Status::unsigned_ && trust.requireSigned)
        return reject (rejectionReason, "unsigned package");

    constexpr int digestLength = 64, separatorLength = 2;
    for (auto& image : images)
    {
        const auto at = checksumText.indexOf (image.name);
        if (at < digestLength + separatorLength)
            return reject (rejectionReason, "image missing from the checksum list: " + image.name);

        const auto expected = checksumText.substring (at - separatorLength - digestLength, at - separatorLength);
        if (!expected.equalsIgnoreCase (image.digest))
            return reject (rejectionReason, "digest mismatch: " + image.name);

        if (image.problem.isNotEmpty())
            return reject (rejectionReason, image.problem);
    }

    juce::StringArray imageNames;
    for (auto& image : images)
        imageNames.add (image.name);

    // A signed list vouches for its images as a set: one it names must be there, under that exact
    // name, or the signature would pass for a package that cannot be sent whole.
    if (signature.status == PackageSignature::Verdict::Status::valid)
        for (auto& listed : namesInChecksumList (checksumText))
            if (!imageNames.contains (listed))
                return reject (rejectionReason, "image in the signed checksum list missing: " + listed);

    const auto version = versionFromChecksumEntryName (checksumEntryName);
    if (version < 0)
        return reject (rejectionReason, "no version in the checksum entry's name");

    if (imageNamesOut != nullptr)
        *imageNamesOut = std::move (imageNames);

    return version;
}

int FirmwarePackageStore::versionFromChecksumEntryName (const juce::String& entryName)
{
    auto baseName = entryName.fromLastOccurrenceOf ("\\", false, false);
    if (baseName.containsChar ('.'))
        baseName = baseName.upToLastOccurrenceOf (".", false, false);

    const auto versionText = baseName.fromLastOccurrenceOf ("-", false, false).replace ("fw.", "");
    return versionText.length() == baseName.length() ? -1 : parseVersion (versionText);
}
} // namespace vfu
