#pragma once

#include <juce_core/juce_core.h>

// The components of the main panel that definition instructions can address, by component ID.
// The panel ignores a TextField or Button naming anything else.
namespace vfu::definitions
{
inline const juce::StringArray& getPanelTextFieldNames()
{
    static const juce::StringArray names{ "InstructionsField", "InstalledVersion", "AvailableVersion", "Installing" };
    return names;
}

inline const juce::StringArray& getPanelButtonNames()
{
    static const juce::StringArray names{ "InstallCancel" };
    return names;
}
} // namespace vfu::definitions

// The two components that callers of the engine look for by name.
namespace vfu::definitions::panel
{
inline constexpr const char* instructionsField = "InstructionsField";
inline constexpr const char* installCancel = "InstallCancel";
} // namespace vfu::definitions::panel
