#include "ui/MainComponent.h"

#include "ui/AboutBox.h"
#include "ui/PanelFont.h"
#include "ui/PanelLookAndFeel.h"
#include "ui/PreferencesDialog.h"
#include "ui/StartupFailureText.h"
#include "VfuResources.h"

#include "core/Log.h"
#include "core/ProgramVersion.h"
#include "definitions/DefinitionSource.h"
#include "definitions/FirmwareUpdater.h"
#include "definitions/PanelFieldNames.h"
#include "midi/MIDIPortsSelector.h"

#include <iostream>

namespace
{
std::unique_ptr<juce::Label> createLabel (const juce::String& name, const juce::String& text, float fontHeight,
                                          juce::Justification justification)
{
    auto label = std::make_unique<juce::Label> (name, text);
    label->setFont (panelFont (fontHeight));
    label->setJustificationType (justification);
    label->setEditable (false, false, false);
    label->setColour (juce::TextEditor::textColourId, juce::Colours::black);
    label->setColour (juce::TextEditor::backgroundColourId, juce::Colour (0x00000000));
    return label;
}

void giveWhiteBoxLook (juce::Label& label)
{
    label.setColour (juce::Label::backgroundColourId, juce::Colour (0xffffffff));
    label.setColour (juce::Label::outlineColourId, juce::Colour (0xff000000));
}

std::unique_ptr<juce::ComboBox> createSelector (const juce::String& name)
{
    auto box = std::make_unique<juce::ComboBox> (name);
    box->setEditableText (false);
    box->setJustificationType (juce::Justification::centred);
    box->setTextWhenNothingSelected ({});
    box->setTextWhenNoChoicesAvailable ("(no choices)");
    return box;
}
} // namespace

MainComponent::MainComponent (const juce::String& deviceNameToUse, const vfu::UpdaterEnvironment& environment,
                              const juce::File& executableFolder, StartupHandlers handlers)
    : deviceName (deviceNameToUse), startupHandlers (std::move (handlers))
{
    portsSelector =
        environment.portsSelector != nullptr ? environment.portsSelector : &MIDIPortsSelector::getProgramWideInstance();

    createChildren();

    logoImage = juce::ImageCache::getFromMemory (VfuResources::vornlogo_png, VfuResources::vornlogo_pngSize);
    setSize (panelWidth, advancedHeight);

    installCancelButton->setColour (juce::TextButton::buttonColourId, panelLightGrey);
    installCancelButton->setColour (juce::TextButton::buttonOnColourId, panelGrey);
    progressBar->setColour (juce::ProgressBar::foregroundColourId, panelGrey);

    for (auto* box : { midiInputs.get(), midiOutputs.get(), firmwareVersions.get() })
        box->setLookAndFeel (&selectorLookAndFeel);

    setUpKeyboardFocus();

    runStartup (environment,
                executableFolder == juce::File() ? vfu::definitions::getExecutableFolder() : executableFolder);
}

MainComponent::~MainComponent()
{
    // The engine's thread reports into the children, so it goes first.
    engine = nullptr;
    openQuestion = nullptr;

    for (auto* box : { midiInputs.get(), midiOutputs.get(), firmwareVersions.get() })
        box->setLookAndFeel (nullptr);

    instructionsField = nullptr;
    progressBar = nullptr;
    deviceLabel = nullptr;
    titleLabel = nullptr;
    installedVersionCaption = nullptr;
    availableVersionCaption = nullptr;
    installedVersion = nullptr;
    availableVersion = nullptr;
    installingLabel = nullptr;
    installCancelButton = nullptr;
    midiInputCaption = nullptr;
    midiOutputCaption = nullptr;
    midiInputs = nullptr;
    midiOutputs = nullptr;
    firmwareVersionCaption = nullptr;
    firmwareVersions = nullptr;
    timeLeftLabel = nullptr;

    logoImage = {};
}

void MainComponent::createChildren()
{
    const auto topLeft = juce::Justification::topLeft;
    const auto centredLeft = juce::Justification::centredLeft;
    const auto centred = juce::Justification::centred;

    instructionsField = createLabel (vfu::definitions::instructionsFieldName, {}, 15.0f, topLeft);
    giveWhiteBoxLook (*instructionsField);
    addAndMakeVisible (*instructionsField);

    progressBar = std::make_unique<juce::ProgressBar> (progress);
    progressBar->setName ("Progress bar");
    addAndMakeVisible (*progressBar);

    deviceLabel = createLabel ("device", {}, 28.0f, topLeft);
    addAndMakeVisible (*deviceLabel);

    titleLabel = createLabel ("new label", "FIRMWARE UPDATER", 24.0f, juce::Justification::topRight);
    addAndMakeVisible (*titleLabel);

    installedVersionCaption = createLabel ("new label", "Installed version", 15.0f, centredLeft);
    addAndMakeVisible (*installedVersionCaption);

    availableVersionCaption = createLabel ("new label", "Available version", 15.0f, centredLeft);
    addAndMakeVisible (*availableVersionCaption);

    installedVersion = createLabel (vfu::definitions::installedVersionName, {}, 15.0f, centred);
    giveWhiteBoxLook (*installedVersion);
    addAndMakeVisible (*installedVersion);

    availableVersion = createLabel (vfu::definitions::availableVersionName, {}, 15.0f, centred);
    giveWhiteBoxLook (*availableVersion);
    addAndMakeVisible (*availableVersion);

    installingLabel = createLabel (vfu::definitions::installingName, {}, 15.0f, centredLeft);
    addAndMakeVisible (*installingLabel);

    installCancelButton = std::make_unique<juce::TextButton> (vfu::definitions::installCancelName);
    installCancelButton->setButtonText ("Cancel");
    installCancelButton->addListener (this);
    addAndMakeVisible (*installCancelButton);

    midiInputCaption = createLabel ("new label", "MIDI Input", 15.0f, centredLeft);
    addAndMakeVisible (*midiInputCaption);

    midiOutputCaption = createLabel ("new label", "MIDI Output", 15.0f, centredLeft);
    addAndMakeVisible (*midiOutputCaption);

    midiInputs = createSelector ("MIDI Inputs");
    midiInputs->addListener (this);
    addAndMakeVisible (*midiInputs);

    midiOutputs = createSelector ("MIDI Outputs");
    midiOutputs->addListener (this);
    addAndMakeVisible (*midiOutputs);

    firmwareVersionCaption = createLabel ("new label", "Firmware version", 15.0f, centredLeft);
    addAndMakeVisible (*firmwareVersionCaption);

    firmwareVersions = createSelector ("Firmware versions");
    firmwareVersions->addListener (this);
    addAndMakeVisible (*firmwareVersions);

    createTimeLeftLabel();
}

void MainComponent::runStartup (const vfu::UpdaterEnvironment& environment, const juce::File& executableFolder)
{
    const auto searchFolders = vfu::definitions::getFirmwareSearchFolders (executableFolder);

    try
    {
        engine = vfu::definitions::createFirmwareUpdaterForApplication (executableFolder, deviceName, this,
                                                                        searchFolders, environment);

        deviceLabel->setText (deviceName.toUpperCase(), juce::dontSendNotification);
        setAdvancedMode (false);

        for (auto* child : std::initializer_list<juce::Component*>{ instructionsField.get(), installedVersion.get(),
                                                                    availableVersion.get(), installingLabel.get(),
                                                                    installCancelButton.get() })
            child->setComponentID (child->getName());

        instructionsField->setMinimumHorizontalScale (1.0f);
        availableVersion->setText (engine->getLatestFirmwareVersion(), juce::dontSendNotification);

        progressBar->setPercentageDisplay (false);
        progress = 0.0;
        installingLabel->setText (juce::String::formatted ("Installing %d%%", 0), juce::dontSendNotification);

        installCancelButton->setEnabled (false);

        fillPortSelector (*midiInputs, portsSelector->getInputNames());
        fillPortSelector (*midiOutputs, portsSelector->getOutputNames());
        fillFirmwareSelector();

        if (engine->getFirmwareVersions().isEmpty())
        {
            reportMissingFirmware (environment.programFile, searchFolders);
            requestQuit();
            return;
        }

        engine->setFirmwareVersion (engine->getLatestFirmwareVersion());
        engine->startThread();
    }
    catch (const FirmwareUpdater::FirmwareUpdaterException& exception)
    {
        showFailure ("Bad XML Document", exception.message);
        requestQuit();
    }
}

void MainComponent::fillPortSelector (juce::ComboBox& box, const juce::StringArray& deviceNames)
{
    box.clear (juce::dontSendNotification);
    box.addItem ("Auto", -1);

    if (!deviceNames.isEmpty())
        box.addSeparator();

    for (int i = 0; i < deviceNames.size(); ++i)
        box.addItem (deviceNames[i], i + 1);

    box.setText ("Auto", juce::sendNotificationAsync);
}

void MainComponent::fillFirmwareSelector()
{
    const auto versions = engine->getFirmwareVersions();
    firmwareVersions->clear (juce::dontSendNotification);

    for (int i = versions.size(); --i >= 0;)
        firmwareVersions->addItem (versions[i], versions.size() - i);

    firmwareVersions->setText (engine->getLatestFirmwareVersion(), juce::sendNotificationAsync);
}

void MainComponent::reportMissingFirmware (const juce::File& programFile, const juce::Array<juce::File>& searchFolders)
{
    const auto places = vfu::ui::describeFirmwareSearch (programFile, searchFolders);
    const auto wanted = engine->getFileNamePattern() + "VERSION.vfw";
    writeLog (vfu::ui::missingFirmwareLogLine (wanted, places));
    showFailure ("Error...", vfu::ui::missingFirmwareMessage (wanted, places));
}

void MainComponent::showFailure (const juce::String& title, const juce::String& message)
{
    if (startupHandlers.showFailure != nullptr)
    {
        startupHandlers.showFailure (title, message);
        return;
    }

    juce::AlertWindow::showMessageBox (juce::MessageBoxIconType::WarningIcon, title, message, "OK");
}

void MainComponent::requestQuit()
{
    if (startupHandlers.requestQuit != nullptr)
        startupHandlers.requestQuit();
    else if (auto* app = juce::JUCEApplicationBase::getInstance())
    {
        // Only a start-up failure quits from here: scripts and launchers see it in the exit code.
        app->setApplicationReturnValue (1);
        app->systemRequestedQuit();
    }
}

MIDIPortsSelector& MainComponent::getPortsSelector() const
{
    return *portsSelector;
}

juce::Component* MainComponent::findChildById (const juce::String& componentId) const
{
    for (auto* child : getChildren())
        if (child->getComponentID() == componentId)
            return child;

    return nullptr;
}

juce::String MainComponent::getInstructionsText() const
{
    return instructionsField->getText();
}

bool MainComponent::isRestingState (const juce::String& stateName)
{
    static const juce::StringArray restingStates{ "Idle, no device",           "Idle, device detected",
                                                  "Idle, bootloader detected", "Download complete",
                                                  "Error, no device",          "Error, device detected",
                                                  "Error, bootloader detected" };
    return restingStates.contains (stateName);
}

//==============================================================================
void MainComponent::stateChanged (juce::String previousState, juce::String newState)
{
    writeLog ("State '" + newState + "' (from State '" + previousState + "')");

    inRestingState = isRestingState (newState);
    hideTimeLeft(); // a transfer runs within one state

    if (inRestingState && instructionsWarning.isNotEmpty())
    {
        instructionsWarning.clear();
        showInstructions();
    }

    for (auto* box : { midiInputs.get(), midiOutputs.get(), firmwareVersions.get() })
        box->setEnabled (inRestingState);

    if (onStateChanged != nullptr)
        onStateChanged (previousState, newState);
}

void MainComponent::textFieldChanged (juce::String name, juce::String text, bool visible)
{
    if (auto* label = dynamic_cast<juce::Label*> (findChildById (name)))
    {
        if (label == instructionsField.get())
        {
            instructions = text;
            showInstructions();
        }
        else
        {
            label->setText (text, juce::sendNotification);
        }
        label->setVisible (visible);
    }
}

void MainComponent::warningShown (juce::String text)
{
    instructionsWarning = text;
    showInstructions();
}

void MainComponent::noticeChanged (Notice which, juce::String text)
{
    if (text.isEmpty())
        notices.erase (which);
    else
        notices[which] = text;
    showInstructions();
}

void MainComponent::showInstructions()
{
    auto shown = instructions;
    const auto addLine = [&shown] (const juce::String& line)
    {
        if (line.isNotEmpty())
            shown << (shown.isNotEmpty() ? "\n\n" : "") << line;
    };
    addLine (instructionsWarning);
    for (const auto& [which, text] : notices)
        addLine (text);
    instructionsField->setText (shown, juce::sendNotification);
}

void MainComponent::buttonChanged (juce::String name, juce::String text, bool enabled)
{
    if (auto* button = dynamic_cast<juce::TextButton*> (findChildById (name)))
    {
        button->setButtonText (text);
        button->setEnabled (enabled);
    }
}

void MainComponent::printMessage (juce::String text, bool)
{
    std::cout << text << std::endl;
}

void MainComponent::progressChanged (double fraction)
{
    installingLabel->setText (juce::String::formatted ("Installing %.0f%%", fraction * 100.0), juce::sendNotification);
    progress = fraction;
}

void MainComponent::buttonClicked (juce::Button* button)
{
    if (button != installCancelButton.get() || engine == nullptr)
        return;

    // While the firmware is being erased or written, Cancel would leave the instrument without it.
    askBeforeStopping (StopQuestion::forCancelling(),
                       [this, name = button->getName()]
                       {
                           if (engine != nullptr)
                               engine->buttonPressed (name);
                       });
}

void MainComponent::comboBoxChanged (juce::ComboBox* box)
{
    if (!advancedMode || engine == nullptr)
        return;

    if (box == midiInputs.get())
    {
        getPortsSelector().selectInputPort (box->getText());
        engine->restartFromInitialState();
    }
    else if (box == midiOutputs.get())
    {
        getPortsSelector().selectOutputPort (box->getText());
        engine->restartFromInitialState();
    }
    else if (box == firmwareVersions.get())
    {
        engine->setFirmwareVersion (box->getText());
        availableVersion->setText (box->getText(), juce::sendNotification);
    }
}

void MainComponent::setAdvancedMode (bool on)
{
    const auto changed = on != advancedMode;
    advancedMode = on;

    if (changed && engine != nullptr && engine->isThreadRunning())
    {
        // A restart runs the machine from its initial state with the new port visibility.
        engine->stopThread (1500);
        engine->startThread();
    }

    updateSelectorFocus();
    setSize (panelWidth, on ? advancedHeight : normalHeight);
}

// Tab moves through the controls that can act: Install/Cancel, then the selectors in reading order
// (left column first), which are stops only in Advanced Mode, where they are in view. JUCE's
// traversal already skips disabled controls.
void MainComponent::setUpKeyboardFocus()
{
    installCancelButton->setExplicitFocusOrder (1);
    midiInputs->setExplicitFocusOrder (2);
    midiOutputs->setExplicitFocusOrder (3);
    firmwareVersions->setExplicitFocusOrder (4);
    updateSelectorFocus();

    // A click on the panel, a label or the progress bar leaves the focus where it was (JUCE would
    // hand it to the first control): Return must not press Install after a click elsewhere.
    setMouseClickGrabsKeyboardFocus (false);
    for (auto* child : getChildren())
        if (dynamic_cast<juce::Button*> (child) == nullptr && dynamic_cast<juce::ComboBox*> (child) == nullptr)
            child->setMouseClickGrabsKeyboardFocus (false);
}

void MainComponent::updateSelectorFocus()
{
    for (auto* box : { midiInputs.get(), midiOutputs.get(), firmwareVersions.get() })
    {
        box->setWantsKeyboardFocus (advancedMode);
        if (!advancedMode && box->hasKeyboardFocus (true))
            box->giveAwayKeyboardFocus();
    }
}

//==============================================================================
std::unique_ptr<PreferencesDialog> MainComponent::createPreferencesDialog()
{
    auto dialog = std::make_unique<PreferencesDialog> (inRestingState);
    dialog->setAdvancedMode (advancedMode);
    return dialog;
}

void MainComponent::applyPreferencesResult (int modalResult, const PreferencesDialog& dialog)
{
    if (modalResult == 1)
        setAdvancedMode (dialog.advancedModeChoice);
}

namespace
{
int runModalDialog (const juce::String& title, juce::Component& content, juce::Component& centreAround)
{
    return juce::DialogWindow::showModalDialog (title, &content, &centreAround, panelBackground, true, false, false);
}
} // namespace

void MainComponent::showPreferences()
{
    auto dialog = createPreferencesDialog();
    const auto result = runModalDialog ("Preferences", *dialog, *this);
    applyPreferencesResult (result, *dialog);
}

void MainComponent::showAboutBox()
{
    AboutBox about;
    about.getVersionLabel().setText (VFU_PROGRAM_VERSION, juce::dontSendNotification);
    runModalDialog ("About", about, *this);
}

//==============================================================================
void MainComponent::paint (juce::Graphics& g)
{
    g.fillAll (panelBackground);

    g.setColour (juce::Colour (0xff000000));
    g.fillRect (24, 56, 592, 1);

    if (logoImage.isValid())
        g.drawImage (logoImage, 24, 11, 131, 38, 0, 0, logoImage.getWidth(), logoImage.getHeight());
}

void MainComponent::resized()
{
    instructionsField->setBounds (288, 72, 328, 232);
    progressBar->setBounds (24, 280, 240, 24);
    deviceLabel->setBounds (19, 67, 240, 24);
    titleLabel->setBounds (424, 21, 199, 24);
    installedVersionCaption->setBounds (19, 112, 104, 24);
    availableVersionCaption->setBounds (19, 144, 104, 24);
    installedVersion->setBounds (136, 112, 120, 24);
    availableVersion->setBounds (136, 144, 120, 24);
    installingLabel->setBounds (19, 248, 120, 24);
    installCancelButton->setBounds (168, 248, 96, 24);
    midiInputCaption->setBounds (19, 336, 77, 24);
    midiOutputCaption->setBounds (19, 368, 77, 24);
    midiInputs->setBounds (104, 336, 160, 24);
    midiOutputs->setBounds (104, 368, 160, 24);
    firmwareVersionCaption->setBounds (283, 336, 101, 24);
    firmwareVersions->setBounds (392, 336, 120, 24);
    timeLeftLabel->setBounds (19, 216, 245, 24);
}
