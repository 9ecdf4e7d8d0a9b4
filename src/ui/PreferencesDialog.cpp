#include "ui/PreferencesDialog.h"

PreferencesDialog::PreferencesDialog (bool toggleEnabled)
{
    advancedModeToggle = std::make_unique<juce::ToggleButton> ("new toggle button");
    addAndMakeVisible (*advancedModeToggle);
    advancedModeToggle->setButtonText ("Advanced Mode");
    advancedModeToggle->addListener (this);

    cancelButton = std::make_unique<juce::TextButton> ("new button");
    addAndMakeVisible (*cancelButton);
    cancelButton->setExplicitFocusOrder (1);
    cancelButton->setButtonText ("Cancel");
    cancelButton->addListener (this);

    okButton = std::make_unique<juce::TextButton> ("new button");
    addAndMakeVisible (*okButton);
    okButton->setExplicitFocusOrder (2);
    okButton->setButtonText ("OK");
    okButton->addListener (this);

    for (auto* button : { cancelButton.get(), okButton.get() })
    {
        button->setColour (juce::TextButton::buttonColourId, juce::Colour (0xffd3d3d3));
        button->setColour (juce::TextButton::buttonOnColourId, juce::Colour (0xff808080));
    }

    setSize (320, 96);

    advancedModeToggle->setColour (juce::TextEditor::focusedOutlineColourId, juce::Colour (0xff000000));
    advancedModeToggle->setColour (juce::TextButton::buttonColourId, juce::Colour (0xffd3d3d3));
    advancedModeToggle->setEnabled (toggleEnabled);
}

PreferencesDialog::~PreferencesDialog()
{
    keyboardNavigation.attachTo (nullptr);
    advancedModeToggle = nullptr;
    cancelButton = nullptr;
    okButton = nullptr;
}

void PreferencesDialog::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xffd0d0d0));
}

void PreferencesDialog::resized()
{
    advancedModeToggle->setBounds (100, 16, 120, 24);
    cancelButton->setBounds (58, 56, 96, 24);
    okButton->setBounds (168, 56, 96, 24);
}

void PreferencesDialog::parentHierarchyChanged()
{
    auto* window = getTopLevelComponent();
    keyboardNavigation.attachTo (window != this ? window : nullptr);
}

void PreferencesDialog::setAdvancedMode (bool on)
{
    advancedModeToggle->setToggleState (on, juce::dontSendNotification);
    advancedModeChoice = on;
}

void PreferencesDialog::buttonClicked (juce::Button* button)
{
    if (button == advancedModeToggle.get())
        advancedModeChoice = advancedModeToggle->getToggleState();
    else if (button == cancelButton.get())
        closeWithResult (0);
    else if (button == okButton.get())
        closeWithResult (1);
}

void PreferencesDialog::closeWithResult (int result)
{
    // The dialog window is the modal component; it returns the result from its modal run.
    if (auto* window = getParentComponent())
        window->exitModalState (result);
}
