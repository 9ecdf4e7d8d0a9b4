// The store's table and selection; collection, the package check and the image reads have files
// of their own (FirmwarePackageCollection.cpp, FirmwarePackageChecks.cpp, FirmwarePackageReading.cpp).

#include "packages/FirmwarePackageStoreImpl.h"

#include "core/VersionNumber.h"

namespace vfu
{
namespace packagestore
{
int parseVersion (const juce::String& text)
{
    return parseVersionNumber (text);
}
juce::String formatVersion (int number)
{
    return formatVersionNumber (number);
}

int reject (juce::String* reasonOut, const juce::String& reason)
{
    if (reasonOut != nullptr)
        *reasonOut = reason;

    return -1;
}

juce::String imageEntryName (const juce::String& messageKind, const juce::String& versionText)
{
    return messageKind.replace ("$(version)", versionText) + ".syx";
}

juce::String findMissingImage (const juce::StringArray& requiredKinds, const juce::String& versionText,
                               const juce::StringArray& imageNames)
{
    for (auto& kind : requiredKinds)
    {
        const auto entryName = imageEntryName (kind, versionText);
        if (!imageNames.contains (entryName))
            return entryName;
    }

    return {};
}
} // namespace packagestore

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

juce::StringArray FirmwarePackageStore::getFirmwareVersions() const
{
    std::lock_guard<std::mutex> guard (impl->lock);
    juce::StringArray versions;

    for (auto& [number, package] : impl->table)
        versions.add (packagestore::formatVersion (number));

    return versions;
}

juce::String FirmwarePackageStore::getLatestFirmwareVersion() const
{
    auto versions = getFirmwareVersions();
    return versions.isEmpty() ? juce::String() : versions[versions.size() - 1];
}

bool FirmwarePackageStore::setFirmwareVersion (const juce::String& versionText)
{
    const auto number = packagestore::parseVersion (versionText);
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

std::vector<FirmwarePackageStore::Finding> FirmwarePackageStore::getFindings() const
{
    std::lock_guard<std::mutex> guard (impl->lock);
    return impl->findings;
}
} // namespace vfu
