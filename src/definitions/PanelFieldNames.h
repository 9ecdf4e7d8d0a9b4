#pragma once

#include <juce_core/juce_core.h>

// The components of the main panel that definition instructions can address, by component ID.
// The panel ignores a TextField or Button naming anything else.
namespace vfu::definitions
{
// The text fields.
inline constexpr const char* instructionsFieldName = "InstructionsField";
inline constexpr const char* installedVersionName = "InstalledVersion";
inline constexpr const char* availableVersionName = "AvailableVersion";
inline constexpr const char* installingName = "Installing";

// The one button: Install, or Cancel while an erase or transfer runs.
inline constexpr const char* installCancelName = "InstallCancel";

inline const juce::StringArray& getPanelTextFieldNames()
{
    static const juce::StringArray names{ instructionsFieldName, installedVersionName, availableVersionName,
                                          installingName };
    return names;
}

inline const juce::StringArray& getPanelButtonNames()
{
    static const juce::StringArray names{ installCancelName };
    return names;
}
} // namespace vfu::definitions
