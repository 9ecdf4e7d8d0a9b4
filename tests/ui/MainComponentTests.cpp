#include "PanelTestSupport.h"

#include <gtest/gtest.h>

#include "core/Log.h"
#include "definitions/FirmwareUpdater.h"
#include "packages/FirmwarePackageStore.h"
#include "support/MessageLoop.h"
#include "support/TestEnvironment.h"
#include "ui/PreferencesDialog.h"

using namespace vfu::test;

namespace
{
const juce::String firstStateLine = "State 'Idle, no device' (from State 'none')";

juce::Label& label (MainComponent& panel, const juce::String& name)
{
    auto* found = findChildByName<juce::Label> (panel, name);
    EXPECT_NE (found, nullptr) << name;
    return *found;
}

juce::ComboBox& selector (MainComponent& panel, const juce::String& name)
{
    auto* found = findChildByName<juce::ComboBox> (panel, name);
    EXPECT_NE (found, nullptr) << name;
    return *found;
}

juce::TextButton& installButton (MainComponent& panel)
{
    return *findChildByName<juce::TextButton> (panel, "InstallCancel");
}

juce::Array<int> itemIds (juce::ComboBox& box)
{
    juce::Array<int> ids;
    for (int i = 0; i < box.getNumItems(); ++i)
        ids.add (box.getItemId (i));
    return ids;
}

juce::StringArray itemTexts (juce::ComboBox& box)
{
    juce::StringArray texts;
    for (int i = 0; i < box.getNumItems(); ++i)
        texts.add (box.getItemText (i));
    return texts;
}

int countLines (const vfu::LogCollector& log, const juce::String& line)
{
    int count = 0;
    for (const auto& each : log.getLines())
        if (each == line)
            ++count;
    return count;
}

const char* const minimalDefinition = R"(<?xml version="1.0" encoding="UTF-8"?>
<FirmwareUpdaters>
  <FirmwareUpdater deviceName="Quillbox" communicationMode="MIDI" MIDIDeviceID="0008"
                   fileNamePattern="quillbox-fw-" initialState="Start" timeout="45" timeoutState="Start">
    <State name="Start" pollingMode="none">
      <TextField name="InstructionsField" text="Read from the file beside the program" visible="true"/>
    </State>
  </FirmwareUpdater>
</FirmwareUpdaters>
)";
} // namespace

TEST (MainComponent, starts_with_the_inbuilt_definitions_and_selects_the_newest_package)
{
    vfu::LogCollector log;
    PanelFixture fixture;
    auto& panel = fixture.createPanel (createExecutableFolder ({ "2.1.0", "2.2.1" }));

    EXPECT_TRUE (fixture.failureTitles.isEmpty());
    EXPECT_EQ (fixture.quitRequests, 0);
    EXPECT_TRUE (log.contains ("Using inbuilt state machine definitions"));

    EXPECT_EQ (panel.getWidth(), 640);
    EXPECT_EQ (panel.getHeight(), 320);
    EXPECT_FALSE (panel.isAdvancedMode());
    EXPECT_EQ (label (panel, "device").getText(), "QUILLBOX");
    EXPECT_EQ (label (panel, "AvailableVersion").getText(), "2.2.1");
    EXPECT_EQ (label (panel, "Installing").getText(), "Installing 0%");
    EXPECT_EQ (installButton (panel).getButtonText(), "Cancel");
    EXPECT_FALSE (installButton (panel).isEnabled());

    auto& versions = selector (panel, "Firmware versions");
    EXPECT_EQ (itemTexts (versions), juce::StringArray ("2.2.1", "2.1.0"));
    EXPECT_EQ (itemIds (versions), juce::Array<int> (1, 2));
    EXPECT_EQ (versions.getText(), "2.2.1");
    EXPECT_EQ (panel.getEngine()->getPackageStore().getSelectedVersionText(), "2.2.1");

    ASSERT_NE (panel.getEngine(), nullptr);
    EXPECT_TRUE (panel.getEngine()->isThreadRunning());
    EXPECT_TRUE (runMessageLoopUntil ([&] { return log.contains (firstStateLine); }, 20000));
    EXPECT_EQ (log.getLines()[log.getLines().indexOf (firstStateLine) - 1], "Using inbuilt state machine definitions")
        << "the first state is logged right after the definition source";
}

TEST (MainComponent, gives_component_ids_only_to_the_five_addressable_children)
{
    PanelFixture fixture;
    auto& panel = fixture.createPanel (createExecutableFolder ({ "2.2.1" }));

    juce::StringArray ids, names;
    for (auto* child : panel.getChildren())
    {
        names.add (child->getName());
        if (child->getComponentID().isNotEmpty())
            ids.add (child->getComponentID());
    }

    EXPECT_EQ (names, juce::StringArray ({ "InstructionsField", "Progress bar", "device", "new label", "new label",
                                           "new label", "InstalledVersion", "AvailableVersion", "Installing",
                                           "InstallCancel", "new label", "new label", "MIDI Inputs", "MIDI Outputs",
                                           "new label", "Firmware versions", "TimeLeft" }));
    EXPECT_EQ (ids, juce::StringArray ({ "InstructionsField", "InstalledVersion", "AvailableVersion", "Installing",
                                         "InstallCancel" }));

    EXPECT_EQ (label (panel, "InstructionsField").getBounds(), juce::Rectangle<int> (288, 72, 328, 232));
    EXPECT_EQ (selector (panel, "Firmware versions").getBounds(), juce::Rectangle<int> (392, 336, 120, 24));
    EXPECT_EQ (label (panel, "InstructionsField").getMinimumHorizontalScale(), 1.0f);
}

TEST (MainComponent, uses_a_StateMachines_xml_beside_the_executable)
{
    vfu::LogCollector log;
    auto folder = createExecutableFolder ({ "2.2.1" });
    auto definitionFile = folder.getChildFile ("StateMachines.xml");
    ASSERT_TRUE (definitionFile.replaceWithText (minimalDefinition));

    PanelFixture fixture;
    auto& panel = fixture.createPanel (folder);

    EXPECT_TRUE (fixture.failureTitles.isEmpty());
    EXPECT_TRUE (log.contains ("Using state machine definition in " + definitionFile.getFullPathName()));
    EXPECT_TRUE (runMessageLoopUntil (
        [&] { return panel.getInstructionsText() == "Read from the file beside the program"; }, 20000));
    EXPECT_TRUE (log.contains ("State 'Start' (from State 'none')"));
}

TEST (MainComponent, shows_a_bad_StateMachines_xml_and_quits_without_starting)
{
    auto folder = createExecutableFolder ({ "2.2.1" });
    ASSERT_TRUE (folder.getChildFile ("StateMachines.xml").replaceWithText ("<FirmwareUpdaters><FirmwareUpdater"));

    PanelFixture fixture;
    auto& panel = fixture.createPanel (folder);

    ASSERT_EQ (fixture.failureTitles, juce::StringArray ("Bad XML Document"));
    EXPECT_TRUE (fixture.failureMessages[0].endsWith ("The app will quit.")) << fixture.failureMessages[0];
    EXPECT_EQ (fixture.quitRequests, 1);
    EXPECT_TRUE (panel.getEngine() == nullptr || !panel.getEngine()->isThreadRunning());
    EXPECT_EQ (label (panel, "device").getText(), "") << "the rest of start-up is skipped";
}

TEST (MainComponent, alerts_and_quits_when_no_firmware_package_is_found_naming_where_it_looked)
{
    vfu::LogCollector log;
    PanelFixture fixture;
    const auto folder = createExecutableFolder ({});
    auto& panel = fixture.createPanel (folder);

    // The fixed text first, then the wanted name and the places searched, in order.
    const auto desktop = juce::File::getSpecialLocation (juce::File::userDesktopDirectory).getFullPathName();
    const auto places = folder.getFullPathName() + "\n" + desktop;
    ASSERT_EQ (fixture.failureTitles, juce::StringArray ("Error..."));
    EXPECT_EQ (fixture.failureMessages[0], "No firmware file was found.\n\nThe application will quit.\n\n"
                                           "Looked for quillbox-fw-VERSION.vfw in:\n" +
                                               places);
    EXPECT_TRUE (log.contains ("No firmware file was found: looked for quillbox-fw-VERSION.vfw in " +
                               places.replace ("\n", ", ")))
        << log.getLines().joinIntoString ("\n");
    EXPECT_EQ (fixture.quitRequests, 1);
    ASSERT_NE (panel.getEngine(), nullptr);
    EXPECT_FALSE (panel.getEngine()->isThreadRunning());
    EXPECT_EQ (selector (panel, "Firmware versions").getNumItems(), 0);
    EXPECT_EQ (label (panel, "AvailableVersion").getText(), "");
}

TEST (MainComponent, applies_text_and_button_reports_by_component_id_and_ignores_the_rest)
{
    PanelFixture fixture;
    auto& panel = fixture.createPanel (createExecutableFolder ({ "2.2.1" }));
    panel.getEngine()->stopThread (5000);

    panel.textFieldChanged ("InstructionsField", "Connect the instrument.", true);
    EXPECT_EQ (panel.getInstructionsText(), "Connect the instrument.");

    panel.textFieldChanged ("Installing", "", false);
    EXPECT_FALSE (label (panel, "Installing").isVisible());
    panel.textFieldChanged ("Installing", "", true);
    EXPECT_TRUE (label (panel, "Installing").isVisible());

    panel.buttonChanged ("InstallCancel", "Install", true);
    EXPECT_EQ (installButton (panel).getButtonText(), "Install");
    EXPECT_TRUE (installButton (panel).isEnabled());

    // Wrong kinds, unknown IDs and names that are no component ID change nothing.
    panel.textFieldChanged ("InstallCancel", "Changed", false);
    panel.buttonChanged ("InstalledVersion", "Changed", false);
    panel.textFieldChanged ("No such field", "Changed", false);
    panel.textFieldChanged ("new label", "Changed", false);
    panel.textFieldChanged ("device", "Changed", false);

    EXPECT_EQ (installButton (panel).getButtonText(), "Install");
    EXPECT_TRUE (installButton (panel).isVisible());
    EXPECT_EQ (label (panel, "InstalledVersion").getText(), "");
    EXPECT_EQ (label (panel, "device").getText(), "QUILLBOX");
    EXPECT_TRUE (label (panel, "device").isVisible());
    for (auto* child : panel.getChildren())
    {
        // Braces: EXPECT_NE expands to an if/else of its own.
        if (auto* each = dynamic_cast<juce::Label*> (child))
        {
            EXPECT_NE (each->getText(), "Changed") << each->getName();
        }
    }
}

TEST (MainComponent, shows_a_warning_after_the_instructions_until_the_engine_comes_to_rest)
{
    PanelFixture fixture;
    auto& panel = fixture.createPanel (createExecutableFolder ({ "2.2.1" }));
    panel.getEngine()->stopThread (5000);
    const juce::String warning = "Warning: other programs are connected to the instrument (Clock DAW).";

    panel.stateChanged ("Idle, device detected", "Firmware erase");
    panel.textFieldChanged ("InstructionsField", "Erasing.\r\nPlease wait.", true);
    panel.warningShown (warning);
    EXPECT_EQ (panel.getInstructionsText(), "Erasing.\r\nPlease wait.\n\n" + warning);

    // Later instructions of the update keep it after them, exactly as the definition gives them.
    panel.stateChanged ("Firmware erase", "Firmware download");
    panel.textFieldChanged ("InstructionsField", "Installing.", true);
    EXPECT_EQ (panel.getInstructionsText(), "Installing.\n\n" + warning);

    // At rest the update is over: the warning goes, the instructions stay.
    panel.stateChanged ("Firmware download", "Download complete");
    EXPECT_EQ (panel.getInstructionsText(), "Installing.");
    panel.textFieldChanged ("InstructionsField", "Update completed successfully.", true);
    EXPECT_EQ (panel.getInstructionsText(), "Update completed successfully.");
}

TEST (MainComponent, enables_the_selectors_only_in_resting_states)
{
    PanelFixture fixture;
    auto& panel = fixture.createPanel (createExecutableFolder ({ "2.2.1" }));
    panel.getEngine()->stopThread (5000);

    const auto selectorsEnabled = [&]
    {
        return selector (panel, "MIDI Inputs").isEnabled() && selector (panel, "MIDI Outputs").isEnabled() &&
               selector (panel, "Firmware versions").isEnabled();
    };
    const auto selectorsDisabled = [&]
    {
        return !selector (panel, "MIDI Inputs").isEnabled() && !selector (panel, "MIDI Outputs").isEnabled() &&
               !selector (panel, "Firmware versions").isEnabled();
    };

    for (const auto* resting :
         { "Idle, no device", "Idle, device detected", "Idle, bootloader detected", "Download complete",
           "Error, no device", "Error, device detected", "Error, bootloader detected" })
    {
        panel.stateChanged ("Firmware download", resting);
        EXPECT_TRUE (panel.isInRestingState()) << resting;
        EXPECT_TRUE (selectorsEnabled()) << resting;
    }

    for (const auto* busy : { "Firmware download", "Firmware erase", "Waiting", "Update cancelled", "idle, no device",
                              "Idle, no device " })
    {
        panel.stateChanged ("Idle, no device", busy);
        EXPECT_FALSE (panel.isInRestingState()) << busy;
        EXPECT_TRUE (selectorsDisabled()) << busy;
        EXPECT_FALSE (panel.createPreferencesDialog()->getAdvancedModeToggle().isEnabled()) << busy;
    }
}

TEST (MainComponent, logs_each_state_report)
{
    PanelFixture fixture;
    auto& panel = fixture.createPanel (createExecutableFolder ({ "2.2.1" }));
    panel.getEngine()->stopThread (5000);

    vfu::LogCollector log;
    panel.stateChanged ("Idle, no device", "Firmware erase");
    EXPECT_EQ (log.getLines(), juce::StringArray ("State 'Firmware erase' (from State 'Idle, no device')"));
}

TEST (MainComponent, shows_progress_in_whole_percent)
{
    PanelFixture fixture;
    auto& panel = fixture.createPanel (createExecutableFolder ({ "2.2.1" }));
    panel.getEngine()->stopThread (5000);

    const std::pair<double, const char*> cases[] = { { 0.0, "Installing 0%" },
                                                     { 0.5, "Installing 50%" },
                                                     { 0.996, "Installing 100%" },
                                                     { 0.004, "Installing 0%" },
                                                     { 1.0, "Installing 100%" } };
    for (const auto& [fraction, text] : cases)
    {
        panel.progressChanged (fraction);
        EXPECT_EQ (label (panel, "Installing").getText(), text) << fraction;
        EXPECT_EQ (panel.getProgress(), fraction);
    }
}

TEST (MainComponent, prints_messages_to_standard_output)
{
    PanelFixture fixture;
    auto& panel = fixture.createPanel (createExecutableFolder ({ "2.2.1" }));
    panel.getEngine()->stopThread (5000);

    testing::internal::CaptureStdout();
    panel.printMessage ("first line", true);
    panel.printMessage ("second line", false);
    EXPECT_EQ (testing::internal::GetCapturedStdout(), "first line\nsecond line\n");
}

TEST (MainComponent, offers_Auto_and_the_ports_in_system_order)
{
    PanelFixture fixture ({ "Quillbox In", "Other In" }, {});
    auto& panel = fixture.createPanel (createExecutableFolder ({ "2.2.1" }));

    auto& inputs = selector (panel, "MIDI Inputs");
    EXPECT_EQ (itemTexts (inputs), juce::StringArray ("Auto", "Quillbox In", "Other In"));
    EXPECT_EQ (itemIds (inputs), juce::Array<int> (-1, 1, 2));
    EXPECT_EQ (inputs.getText(), "Auto");

    auto& outputs = selector (panel, "MIDI Outputs");
    EXPECT_EQ (itemTexts (outputs), juce::StringArray ("Auto"));
    EXPECT_EQ (itemIds (outputs), juce::Array<int> (-1));
    EXPECT_EQ (outputs.getText(), "Auto");
    EXPECT_EQ (outputs.getTextWhenNoChoicesAvailable(), "(no choices)");
    EXPECT_NE (dynamic_cast<PanelLookAndFeel*> (&outputs.getLookAndFeel()), nullptr);

    // The asynchronous change notifications arrive after start-up, outside Advanced Mode, and
    // restart nothing.
    vfu::LogCollector log;
    runMessageLoopFor (300);
    EXPECT_LE (countLines (log, firstStateLine), 1);
    EXPECT_EQ (fixture.selector.getInputPortName(), "Auto");
}

TEST (MainComponent, advanced_mode_resizes_the_panel_and_restarts_the_engine_once_per_change)
{
    vfu::LogCollector log;
    PanelFixture fixture;
    auto& panel = fixture.createPanel (createExecutableFolder ({ "2.2.1" }));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return countLines (log, firstStateLine) == 1; }, 20000));

    panel.setAdvancedMode (true);
    EXPECT_EQ (panel.getHeight(), 408);
    EXPECT_EQ (panel.getWidth(), 640);
    EXPECT_TRUE (panel.getEngine()->isThreadRunning());
    EXPECT_TRUE (runMessageLoopUntil ([&] { return countLines (log, firstStateLine) == 2; }, 20000));

    panel.setAdvancedMode (true);
    runMessageLoopFor (300);
    EXPECT_EQ (countLines (log, firstStateLine), 2) << "the same mode again restarts nothing";

    panel.setAdvancedMode (false);
    EXPECT_EQ (panel.getHeight(), 320);
    EXPECT_TRUE (runMessageLoopUntil ([&] { return countLines (log, firstStateLine) == 3; }, 20000));
}

TEST (MainComponent, a_port_choice_restarts_the_engine_only_in_advanced_mode)
{
    vfu::LogCollector log;
    PanelFixture fixture ({ "Quillbox In" }, { "Quillbox Out" });
    auto& panel = fixture.createPanel (createExecutableFolder ({ "2.2.1" }));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return countLines (log, firstStateLine) == 1; }, 20000));

    auto& inputs = selector (panel, "MIDI Inputs");
    inputs.setSelectedId (1, juce::sendNotificationSync);
    runMessageLoopFor (300);
    EXPECT_EQ (countLines (log, firstStateLine), 1) << "a choice outside Advanced Mode is ignored";
    EXPECT_EQ (fixture.selector.getInputPortName(), "Auto");

    // The entry line is logged before the engine takes the state as current; a restart asked for
    // in between is merged into that entry. Each choice below waits until the entry is taken.
    const auto enteredAgain = [&] (int times) {
        return countLines (log, firstStateLine) == times &&
               panel.getEngine()->getCurrentStateName() == "Idle, no device";
    };

    panel.setAdvancedMode (true);
    ASSERT_TRUE (runMessageLoopUntil ([&] { return enteredAgain (2); }, 20000));

    inputs.setSelectedId (-1, juce::sendNotificationSync);
    EXPECT_TRUE (runMessageLoopUntil ([&] { return enteredAgain (3); }, 20000));

    selector (panel, "MIDI Outputs").setText ("No such port", juce::sendNotificationSync);
    EXPECT_TRUE (runMessageLoopUntil ([&] { return countLines (log, firstStateLine) == 4; }, 20000))
        << "an unknown port still restarts the engine";
}

TEST (MainComponent, the_firmware_choice_selects_the_package_in_advanced_mode)
{
    PanelFixture fixture;
    auto& panel = fixture.createPanel (createExecutableFolder ({ "2.1.0", "2.2.1" }));
    auto& versions = selector (panel, "Firmware versions");

    versions.setSelectedId (2, juce::sendNotificationSync);
    EXPECT_EQ (label (panel, "AvailableVersion").getText(), "2.2.1");
    EXPECT_EQ (panel.getEngine()->getPackageStore().getSelectedVersionText(), "2.2.1");

    panel.setAdvancedMode (true);
    versions.setSelectedId (1, juce::sendNotificationSync);
    versions.setSelectedId (2, juce::sendNotificationSync);
    EXPECT_EQ (label (panel, "AvailableVersion").getText(), "2.1.0");
    EXPECT_EQ (panel.getEngine()->getPackageStore().getSelectedVersionText(), "2.1.0");
}

TEST (MainComponent, preferences_apply_the_choice_only_after_OK)
{
    PanelFixture fixture;
    auto& panel = fixture.createPanel (createExecutableFolder ({ "2.2.1" }));
    panel.getEngine()->stopThread (5000);
    panel.stateChanged ("none", "Idle, no device");

    auto dialog = panel.createPreferencesDialog();
    EXPECT_TRUE (dialog->getAdvancedModeToggle().isEnabled());
    EXPECT_FALSE (dialog->getAdvancedModeToggle().getToggleState());

    dialog->getAdvancedModeToggle().setToggleState (true, juce::sendNotificationSync);
    EXPECT_TRUE (dialog->advancedModeChoice);
    panel.applyPreferencesResult (0, *dialog);
    EXPECT_FALSE (panel.isAdvancedMode());
    EXPECT_EQ (panel.getHeight(), 320);

    panel.applyPreferencesResult (1, *dialog);
    EXPECT_TRUE (panel.isAdvancedMode());
    EXPECT_EQ (panel.getHeight(), 408);

    auto second = panel.createPreferencesDialog();
    EXPECT_TRUE (second->getAdvancedModeToggle().getToggleState()) << "the dialog shows the mode in force";
    EXPECT_TRUE (second->advancedModeChoice);
}

TEST (MainComponent, a_click_on_InstallCancel_requests_the_buttons_target_state)
{
    vfu::LogCollector log;
    PanelFixture fixture;
    auto folder = createExecutableFolder ({ "2.2.1" });
    folder.getChildFile ("StateMachines.xml").replaceWithText (R"(<FirmwareUpdaters>
  <FirmwareUpdater deviceName="Quillbox" communicationMode="MIDI" MIDIDeviceID="0008"
                   fileNamePattern="quillbox-fw-" initialState="Start" timeout="45" timeoutState="Start">
    <State name="Start" pollingMode="none">
      <Button name="InstallCancel" text="Install" state="enabled" gotoState="Next"/>
    </State>
    <State name="Next" pollingMode="none">
      <TextField name="InstructionsField" text="Moved on" visible="true"/>
    </State>
  </FirmwareUpdater>
</FirmwareUpdaters>)");
    auto& panel = fixture.createPanel (folder);

    ASSERT_TRUE (runMessageLoopUntil ([&] { return installButton (panel).isEnabled(); }, 20000));
    installButton (panel).triggerClick();
    EXPECT_TRUE (runMessageLoopUntil ([&] { return panel.getInstructionsText() == "Moved on"; }, 20000));
    EXPECT_TRUE (log.contains ("State 'Next' (from State 'Start')"));
}

TEST (MainComponent, is_destroyed_promptly_while_the_engine_runs)
{
    vfu::LogCollector log;
    PanelFixture fixture;
    fixture.createPanel (createExecutableFolder ({ "2.2.1" }));
    ASSERT_TRUE (runMessageLoopUntil ([&] { return log.contains (firstStateLine); }, 20000));

    const auto start = juce::Time::getMillisecondCounter();
    fixture.panel = nullptr;
    EXPECT_LT (juce::Time::getMillisecondCounter() - start, 10000u) << "destruction does not hang";
}
