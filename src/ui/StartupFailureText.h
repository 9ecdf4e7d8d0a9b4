#pragma once

#include <juce_core/juce_core.h>

// The words of the start-up failure that no firmware package was found: the fixed alert text, then
// where the program looked and which file it wants, so that the user can put one there.
namespace vfu::ui
{
// The places collection searched, in its order: the program's own file (when there is one), then
// each search folder.
juce::StringArray describeFirmwareSearch (const juce::File& programFile, const juce::Array<juce::File>& searchFolders);

// The alert's message; wantedName is the package name the device model asks for ("quillbox-fw-VERSION.vfw").
juce::String missingFirmwareMessage (const juce::String& wantedName, const juce::StringArray& places);

// The same as one log line.
juce::String missingFirmwareLogLine (const juce::String& wantedName, const juce::StringArray& places);
} // namespace vfu::ui
