// PLACEHOLDER so that the core library links while packages are being written; replaced whole.
#include "FirmwarePackageStore.h"

namespace vfu
{
struct FirmwarePackageStore::Impl {};
FirmwarePackageStore::FirmwarePackageStore() : impl (std::make_unique<Impl>()) {}
FirmwarePackageStore::~FirmwarePackageStore() = default;
void FirmwarePackageStore::collect (const juce::File&, const juce::Array<juce::File>&) {}
juce::StringArray FirmwarePackageStore::getFirmwareVersions() const { return {}; }
juce::String FirmwarePackageStore::getLatestFirmwareVersion() const { return {}; }
bool FirmwarePackageStore::setFirmwareVersion (const juce::String&) { return false; }
juce::String FirmwarePackageStore::getSelectedVersionText() const { return {}; }
FirmwarePackageStore::ImageReadResult FirmwarePackageStore::readSelectedImage (const juce::String&, juce::MemoryBlock&, juce::String&, juce::String&) const { return ImageReadResult::noPackageSelected; }
std::vector<FirmwarePackageStore::Finding> FirmwarePackageStore::getFindings() const { return {}; }
int FirmwarePackageStore::checkPackage (juce::InputStream&, juce::String*) { return -1; }
} // namespace vfu
