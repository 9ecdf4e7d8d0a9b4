// The FirmwareUpdater's package table operations, held by its FirmwarePackageStore.
#include "definitions/FirmwareUpdater.h"
#include "definitions/DefinitionTransitions.h"
#include "midi/MIDIPortsSelector.h"
#include "midi/UpdateObserver.h"
#include "packages/FirmwarePackageStore.h"

#include <juce_cryptography/juce_cryptography.h>

juce::StringArray FirmwareUpdater::getFirmwareVersions() const
{
    return packages->getFirmwareVersions();
}

juce::String FirmwareUpdater::getLatestFirmwareVersion() const
{
    return packages->getLatestFirmwareVersion();
}

namespace
{
void notifyPackageSelected (const FirmwareUpdater& updater, vfu::UpdateObserver& observer);
} // namespace

// Called on the message thread; the store hands the selection to the engine thread under its lock.
// A recording layer under the port selector is told the package selected.
bool FirmwareUpdater::setFirmwareVersion (const juce::String& versionText)
{
    if (!packages->setFirmwareVersion (versionText))
        return false;

    if (auto* observer = dynamic_cast<vfu::UpdateObserver*> (&portsSelector.getMidiLayer()))
        notifyPackageSelected (*this, *observer);
    return true;
}

namespace
{
// Tells the observer the SHA-256 of each image the machine's SendSysEx instructions can send from the
// selected package, read as a transfer reads them.
void notifyPackageSelected (const FirmwareUpdater& updater, vfu::UpdateObserver& observer)
{
    auto* packages = &updater.getPackageStore();
    juce::StringArray kinds;
    if (const auto* machine = updater.getMachine())
        kinds = vfu::definitions::getFirmwareImageKinds (*machine);

    std::vector<vfu::UpdateObserver::ImageDigest> images;
    for (auto& kind : kinds)
    {
        juce::MemoryBlock image;
        juce::String entryName, version;
        if (packages->readSelectedImage (kind, image, entryName, version) ==
            vfu::FirmwarePackageStore::ImageReadResult::ok)
            images.push_back ({ entryName, juce::SHA256 (image).toHexString() });
    }

    observer.packageSelected (packages->getSelectedVersionText(), images);
}
} // namespace
