#pragma once

// The store's own state and the helpers its source files share; not for callers of the store.

#include "packages/FirmwarePackageStore.h"
#include "packages/ZipArchiveLayout.h"

namespace vfu
{
namespace packagestore
{
int parseVersion (const juce::String& text);
juce::String formatVersion (int number);

// Hands the reason to reasonOut (when given) and gives -1, the check's answer for a rejection.
int reject (juce::String* reasonOut, const juce::String& reason);

// The entry a transfer reads for a SendSysEx messageKind: "$(version)" replaced, ".syx" appended.
juce::String imageEntryName (const juce::String& messageKind, const juce::String& versionText);

// The first image a transfer would read that the package does not hold, or empty when it holds
// them all.
juce::String findMissingImage (const juce::StringArray& requiredKinds, const juce::String& versionText,
                               const juce::StringArray& imageNames);
} // namespace packagestore

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

    // Collection (FirmwarePackageCollection.cpp).
    int checkForCollection (const juce::MemoryBlock& data, juce::String& reason,
                            PackageSignature::Verdict& signature) const;
    void store (int versionNumber, std::unique_ptr<juce::InputStream> stream, const juce::String& source,
                const PackageSignature::Verdict& signature);
    void addRejection (const juce::String& source, const juce::String& reason);
    void collectFromProgramFile (const juce::File& programFile);
    bool openProgramArchive (const juce::File& programFile, zip::ArchiveLayout& layout);
    void collectProgramEntry (int index, const zip::EntryLayout& entry, const juce::String& programPath);
    void collectFromFile (const juce::File& file);
    void collectFromPath (const juce::File& path);

    // Image reading (FirmwarePackageReading.cpp); the caller holds the lock.
    ImageReadResult recheckSelected (juce::MemoryBlock& package, PackageSignature::Verdict& signature,
                                     juce::String* failureDetail) const;
    // The selected package as an image read holds it: the bytes checked, the archive opened on
    // them, and the signature found.
    struct SelectedPackage
    {
        juce::MemoryBlock bytes;
        zip::MemoryArchive archive; // reads from bytes
        PackageSignature::Verdict signature;
    };
    ImageReadResult openSelected (SelectedPackage& package, juce::String* failureDetail) const;
};
} // namespace vfu
