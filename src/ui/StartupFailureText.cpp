#include "ui/StartupFailureText.h"

namespace vfu::ui
{
juce::StringArray describeFirmwareSearch (const juce::File& programFile, const juce::Array<juce::File>& searchFolders)
{
    juce::StringArray places;
    if (programFile != juce::File())
        places.add (programFile.getFullPathName() + " (the program's own file)");
    for (const auto& folder : searchFolders)
        places.add (folder.getFullPathName());
    return places;
}

juce::String missingFirmwareMessage (const juce::String& wantedName, const juce::StringArray& places)
{
    return "No firmware file was found.\n\nThe application will quit.\n\nLooked for " + wantedName + " in:\n" +
           places.joinIntoString ("\n");
}

juce::String missingFirmwareLogLine (const juce::String& wantedName, const juce::StringArray& places)
{
    return "No firmware file was found: looked for " + wantedName + " in " + places.joinIntoString (", ");
}
} // namespace vfu::ui
