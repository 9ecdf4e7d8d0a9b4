#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "engine/FirmwareUpdaterCallback.h"
#include "engine/UpdaterEnvironment.h"
#include "ui/PanelLookAndFeel.h"
#include "ui/StopQuestion.h"

#include <functional>
#include <map>
#include <memory>

class FirmwareUpdater;
class MIDIPortsSelector;
class PreferencesDialog;

// The main panel, the window's content: owns and starts the update engine and applies its reports
// to the children named by component ID.
class MainComponent final : public juce::Component,
                            public FirmwareUpdaterCallback,
                            public juce::Button::Listener,
                            public juce::ComboBox::Listener
{
public:
    // How start-up failures reach the user. Empty members mean the modal boxes and the running
    // application's systemRequestedQuit; tests replace them to build the panel without blocking.
    struct StartupHandlers
    {
        std::function<void (const juce::String& title, const juce::String& message)> showFailure;
        std::function<void()> requestQuit;
    };

    // Runs the whole start-up. environment and executableFolder default to the shipped program's
    // (an empty File means the folder of the running executable); tests and the demonstration mode
    // inject a virtual port selector, a clock and a folder of their own.
    explicit MainComponent (const juce::String& deviceName, const vfu::UpdaterEnvironment& environment = {},
                            const juce::File& executableFolder = {}, StartupHandlers startupHandlers = {});
    ~MainComponent() override;

    void showAboutBox();
    void showPreferences();
    void setAdvancedMode (bool on);

    // The two halves of showPreferences around its modal run, so that tests can drive them.
    std::unique_ptr<PreferencesDialog> createPreferencesDialog();
    void applyPreferencesResult (int modalResult, const PreferencesDialog& dialog);

    // ----- FirmwareUpdaterCallback (message thread) -----
    void stateChanged (juce::String previousState, juce::String newState) override;
    void textFieldChanged (juce::String name, juce::String text, bool visible) override;
    void buttonChanged (juce::String name, juce::String text, bool enabled) override;
    void printMessage (juce::String text, bool flag) override;
    void progressChanged (double fraction) override;
    // Shown after the instructions until the engine comes to rest (a resting state): it concerns
    // the update under way, whose later states change the instructions.
    void warningShown (juce::String text) override;
    // Each notice stays until its sender withdraws it (empty text).
    void noticeChanged (Notice which, juce::String text) override;

    // ----- The guarded phase: the firmware is being erased or written (message thread) -----
    void guardChanged (bool guarded) override;
    void timeLeftChanged (double secondsLeft) override;
    bool isGuarded() const noexcept { return guarded; }

    // Asks before an action that would stop the guarded update; onStop runs only when the user
    // chooses to stop. Outside the guarded phase onStop runs at once. One question at a time: a
    // second request while one is open is dropped. The question goes away unanswered when the
    // guarded phase ends, so the outcome stays on screen.
    void askBeforeStopping (const StopQuestion& question, std::function<void()> onStop);
    bool isAskingBeforeStopping() const noexcept { return openQuestion != nullptr; }

    // Shows those questions; empty means the shipped alert window. Tests replace it.
    QuestionPresenter questionPresenter;

    // Called after each change of the guarded phase has been applied; the application watches it.
    std::function<void (bool guarded)> onGuardChanged;

    void buttonClicked (juce::Button* button) override;
    void comboBoxChanged (juce::ComboBox* box) override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    // Called after each state report has been applied; the demonstration mode watches it.
    std::function<void (const juce::String& previousState, const juce::String& newState)> onStateChanged;

    // ----- For tests and the demonstration mode -----
    FirmwareUpdater* getEngine() const noexcept { return engine.get(); }
    bool isAdvancedMode() const noexcept { return advancedMode; }
    bool isInRestingState() const noexcept { return inRestingState; }
    double getProgress() const noexcept { return progress; }
    juce::String getInstructionsText() const;
    juce::String getTimeLeftText() const; // empty while the line is hidden
    const juce::Image& getLogoImage() const noexcept { return logoImage; }

    // The panel's own height in the current mode; the window keeps to it even when stretched from outside.
    int getPanelHeight() const noexcept { return advancedMode ? advancedHeight : normalHeight; }

    // True for the states in which the selectors and the Advanced Mode toggle may be used.
    static bool isRestingState (const juce::String& stateName);

    static constexpr int panelWidth = 640;
    static constexpr int normalHeight = 320;
    static constexpr int advancedHeight = 408;

private:
    void createChildren();
    void runStartup (const vfu::UpdaterEnvironment& environment, const juce::File& executableFolder);
    void fillPortSelector (juce::ComboBox& box, const juce::StringArray& deviceNames);
    void fillFirmwareSelector();
    void showFailure (const juce::String& title, const juce::String& message);
    void requestQuit();
    MIDIPortsSelector& getPortsSelector() const;
    juce::Component* findChildById (const juce::String& componentId) const;
    void showInstructions();
    void setUpKeyboardFocus();
    void updateSelectorFocus();
    void reportMissingFirmware (const juce::File& programFile, const juce::Array<juce::File>& searchFolders);
    void createTimeLeftLabel();
    void hideTimeLeft();
    void setShutdownBlockReason (bool guardedNow);

    juce::String deviceName;
    double progress = 0.0;
    bool advancedMode = false;
    bool inRestingState = false;
    StartupHandlers startupHandlers;
    juce::String instructions;                  // as the definition gives them
    juce::String instructionsWarning;           // shown after them; empty when none
    std::map<Notice, juce::String> notices;     // shown after the warning, in the enum's order
    MIDIPortsSelector* portsSelector = nullptr; // borrowed: the injected or the program-wide selector
    bool guarded = false;
    std::unique_ptr<ShownQuestion> openQuestion; // the question asked before stopping; null when none

    // Declared before the children and the engine so that they are released last.
    juce::Image logoImage;
    PanelLookAndFeel selectorLookAndFeel; // of the three selectors and their pop-up lists

    // In creation order, which is also the z-order.
    std::unique_ptr<juce::Label> instructionsField;
    std::unique_ptr<juce::ProgressBar> progressBar;
    std::unique_ptr<juce::Label> deviceLabel;
    std::unique_ptr<juce::Label> titleLabel;
    std::unique_ptr<juce::Label> installedVersionCaption;
    std::unique_ptr<juce::Label> availableVersionCaption;
    std::unique_ptr<juce::Label> installedVersion;
    std::unique_ptr<juce::Label> availableVersion;
    std::unique_ptr<juce::Label> installingLabel;
    std::unique_ptr<juce::TextButton> installCancelButton;
    std::unique_ptr<juce::Label> midiInputCaption;
    std::unique_ptr<juce::Label> midiOutputCaption;
    std::unique_ptr<juce::ComboBox> midiInputs;
    std::unique_ptr<juce::ComboBox> midiOutputs;
    std::unique_ptr<juce::Label> firmwareVersionCaption;
    std::unique_ptr<juce::ComboBox> firmwareVersions;
    std::unique_ptr<juce::Label> timeLeftLabel; // created last: not one of the definitions' children

    // Declared last so that it is destroyed first: its thread calls back into the children.
    std::unique_ptr<FirmwareUpdater> engine;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};
