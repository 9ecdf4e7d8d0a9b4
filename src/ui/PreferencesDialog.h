#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "ui/KeyboardAccess.h"

// The content of the Preferences window: the Advanced Mode toggle, Cancel (result 0) and OK
// (result 1). The panel reads advancedModeChoice after an OK.
class PreferencesDialog final : public juce::Component, public juce::Button::Listener
{
public:
    explicit PreferencesDialog (bool toggleEnabled);
    ~PreferencesDialog() override;

    void paint (juce::Graphics& g) override;
    void resized() override;
    void buttonClicked (juce::Button* button) override;
    // Gives the dialog window keyboard navigation as soon as the dialog is placed in one.
    void parentHierarchyChanged() override;

    // Sets the toggle (without notification) and the returned mode.
    void setAdvancedMode (bool on);

    juce::ToggleButton& getAdvancedModeToggle() noexcept { return *advancedModeToggle; }
    juce::TextButton& getCancelButton() noexcept { return *cancelButton; }
    juce::TextButton& getOkButton() noexcept { return *okButton; }

    bool advancedModeChoice = false;

private:
    void closeWithResult (int result);

    std::unique_ptr<juce::ToggleButton> advancedModeToggle;
    std::unique_ptr<juce::TextButton> cancelButton;
    std::unique_ptr<juce::TextButton> okButton;

    KeyboardNavigation keyboardNavigation; // attached to the dialog window that shows this

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PreferencesDialog)
};
