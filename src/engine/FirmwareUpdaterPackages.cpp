// The FirmwareUpdater's package table operations, held by its FirmwarePackageStore.
#include "definitions/FirmwareUpdater.h"
#include "packages/FirmwarePackageStore.h"

juce::StringArray FirmwareUpdater::getFirmwareVersions() const
{
    return packages->getFirmwareVersions();
}

juce::String FirmwareUpdater::getLatestFirmwareVersion() const
{
    return packages->getLatestFirmwareVersion();
}

// Called on the message thread; the store hands the selection to the engine thread under its lock.
bool FirmwareUpdater::setFirmwareVersion (const juce::String& versionText)
{
    return packages->setFirmwareVersion (versionText);
}
