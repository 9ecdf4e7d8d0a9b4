// Collection: the packages of the program file's archive and of the search paths, each checked
// once, into a table by version number; every source looked at leaves a finding.

#include "packages/FirmwarePackageStoreImpl.h"

#include "core/FileKind.h"
#include "packages/ProgramArchive.h"

namespace vfu
{
using packagestore::reject;

// The package check, and then the images the transfers need, named with the package's version.
int FirmwarePackageStore::Impl::checkForCollection (const juce::MemoryBlock& data, juce::String& reason,
                                                    PackageSignature::Verdict& signature) const
{
    juce::StringArray imageNames;
    const auto version = checkPackageData (data, trust, &reason, &signature, &imageNames);
    if (version < 0)
        return version;

    const auto missing =
        packagestore::findMissingImage (requiredImageKinds, packagestore::formatVersion (version), imageNames);
    return missing.isEmpty() ? version : reject (&reason, "required image missing: " + missing);
}

void FirmwarePackageStore::Impl::store (int versionNumber, std::unique_ptr<juce::InputStream> stream,
                                        const juce::String& source, const PackageSignature::Verdict& signature)
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

void FirmwarePackageStore::Impl::addRejection (const juce::String& source, const juce::String& reason)
{
    findings.push_back ({ source, -1, reason, {} });
}

void FirmwarePackageStore::Impl::collectFromProgramFile (const juce::File& programFile)
{
    zip::ArchiveLayout layout;
    if (!openProgramArchive (programFile, layout))
        return;

    const auto path = programFile.getFullPathName();
    for (int i = 0; i < programArchive->getNumEntries(); ++i)
        if (zip::hasPackageExtension (layout.entries[(size_t) i].name))
            collectProgramEntry (i, layout.entries[(size_t) i], path);
}

// Opens the program file's archive (up to a signed Windows program's certificate table, which
// follows it) as programArchive once its layout has been read and checked; false with the
// rejection added when it cannot be.
bool FirmwarePackageStore::Impl::openProgramArchive (const juce::File& programFile, zip::ArchiveLayout& layout)
{
    const auto path = programFile.getFullPathName();
    auto refuse = [this, &path] (const juce::String& reason)
    {
        addRejection (path, reason);
        return false;
    };

    if (const auto notRegular = whyNotARegularFile (programFile); notRegular.isNotEmpty())
        return refuse (notRegular);

    auto archiveSource = ProgramArchive::createArchiveSource (programFile);
    {
        std::unique_ptr<juce::InputStream> input (archiveSource != nullptr ? archiveSource->createInputStream()
                                                                           : nullptr);
        if (input == nullptr)
            return refuse ("unreadable");

        auto result = zip::readLayout (*input, layout);
        if (result.failed())
            return refuse (result.getErrorMessage());
    }

    programArchive = std::make_unique<juce::ZipFile> (archiveSource.release());
    if (!zip::matchesZipFile (layout, *programArchive))
    {
        programArchive.reset();
        return refuse ("damaged archive");
    }

    return true;
}

// One ".vfw" entry of the program archive: read, checked, and kept as a stream on the archive.
void FirmwarePackageStore::Impl::collectProgramEntry (int index, const zip::EntryLayout& entry,
                                                      const juce::String& programPath)
{
    const auto source = programPath + "!" + entry.name;
    if (entry.uncompressedSize > maximumPackageSize)
        return addRejection (source, "package too large");

    juce::MemoryBlock data;
    if (!zip::readEntry (*programArchive, index, entry, maximumPackageSize, data))
        return addRejection (source, "damaged archive");

    juce::String reason;
    PackageSignature::Verdict signature;
    const auto version = checkForCollection (data, reason, signature);
    if (version < 0)
        return addRejection (source, reason);

    std::unique_ptr<juce::InputStream> stream (programArchive->createStreamForEntry (index));
    if (stream == nullptr)
        addRejection (source, "unreadable");
    else
        store (version, std::move (stream), source, signature);
}

void FirmwarePackageStore::Impl::collectFromFile (const juce::File& file)
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

void FirmwarePackageStore::Impl::collectFromPath (const juce::File& path)
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
} // namespace vfu
