#include "definitions/DefinitionSource.h"

#include "definitions/InbuiltDefinitions.h"

#include "core/Log.h"

namespace vfu::definitions
{
const char* const definitionFileName = "StateMachines.xml";

juce::File getExecutableFolder()
{
    return juce::File::getSpecialLocation (juce::File::currentExecutableFile).getParentDirectory();
}

juce::Array<juce::File> getFirmwareSearchFolders (const juce::File& executableFolder)
{
    return { executableFolder, juce::File::getSpecialLocation (juce::File::userDesktopDirectory) };
}

std::unique_ptr<FirmwareUpdater> createFirmwareUpdaterForApplication (const juce::File& executableFolder,
                                                                      const juce::String& deviceName,
                                                                      FirmwareUpdaterCallback* callback,
                                                                      const juce::Array<juce::File>& searchFolders,
                                                                      const vfu::UpdaterEnvironment& environment)
{
    constexpr bool consoleMode = false;
    const auto definitionFile = executableFolder.getChildFile (definitionFileName);

    // A plain existence test on purpose: an entry of that name, file or not, is what the user
    // put there, and an unreadable one is reported rather than silently replaced.
    if (definitionFile.exists())
    {
        auto updater = std::make_unique<FirmwareUpdater> (definitionFile, deviceName, consoleMode, callback,
                                                          searchFolders, environment);
        writeLog ("Using state machine definition in " + definitionFile.getFullPathName());
        return updater;
    }

    auto updater = std::make_unique<FirmwareUpdater> (getInbuiltDefinitions(), deviceName, consoleMode, callback,
                                                      searchFolders, environment);
    writeLog ("Using inbuilt state machine definitions");
    return updater;
}
} // namespace vfu::definitions
