#pragma once

#include "definitions/FirmwareUpdater.h"

#include <memory>

namespace vfu::definitions
{
// The name of the definition document that replaces the inbuilt one when it stands beside the executable.
extern const char* const definitionFileName;

// The folder that holds the running executable.
juce::File getExecutableFolder();

// Where firmware packages are looked for: the executable's folder, then the user's desktop.
juce::Array<juce::File> getFirmwareSearchFolders (const juce::File& executableFolder);

// Constructs the application's updater for deviceName with console mode off: from
// StateMachines.xml in executableFolder when an entry of that name exists there (a folder of that
// name fails like a malformed document), else from the inbuilt document. Logs which one was used
// once construction has succeeded; a bad document throws FirmwareUpdaterException and is not
// replaced by the inbuilt one.
std::unique_ptr<FirmwareUpdater> createFirmwareUpdaterForApplication (const juce::File& executableFolder,
                                                                      const juce::String& deviceName,
                                                                      FirmwareUpdaterCallback* callback,
                                                                      const juce::Array<juce::File>& searchFolders,
                                                                      const vfu::UpdaterEnvironment& environment = {});
} // namespace vfu::definitions
