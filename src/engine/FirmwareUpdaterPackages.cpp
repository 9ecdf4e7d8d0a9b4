// PLACEHOLDER so that the core library links while packages are being written; replaced whole.
#include "../definitions/FirmwareUpdater.h"
#include "FirmwarePackageStore.h"

juce::StringArray FirmwareUpdater::getFirmwareVersions() const { return packages->getFirmwareVersions(); }
juce::String FirmwareUpdater::getLatestFirmwareVersion() const { return packages->getLatestFirmwareVersion(); }
bool FirmwareUpdater::setFirmwareVersion (const juce::String& v) { return packages->setFirmwareVersion (v); }
