// What `vfu lint` finds in definitions the loader accepts.

#include "DefinitionDocuments.h"

#include "definitions/DefinitionLint.h"
#include "definitions/InbuiltDefinitions.h"
#include "packages/DeliveredPackage.h"
#include "packages/FirmwarePackageWriter.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

using namespace vfu::test;
using vfu::definitions::lintDefinitionText;
using vfu::definitions::LintWarning;

namespace
{
std::vector<LintWarning> lintStates (const juce::String& states, const vfu::definitions::LintOptions& options = {})
{
    const auto result = lintDefinitionText (documentWithStates (states), "Quillbox", false, options);
    EXPECT_TRUE (result.isLoaded()) << result.loadError;
    return result.warnings;
}

// "code State/element@line" for each warning, for compact expectations.
std::vector<std::string> summarise (const std::vector<LintWarning>& warnings)
{
    std::vector<std::string> lines;

    for (const auto& w : warnings)
        lines.push_back ((w.code + " " + w.stateName + "/" + w.element + "@" + juce::String (w.line)).toStdString());

    return lines;
}

using Lines = std::vector<std::string>;
} // namespace

// The document's text starts the states on line 4 (declaration, root, updater before them).

TEST (DefinitionLint, finds_only_the_unreachable_error_state_in_the_inbuilt_document)
{
    const auto& text = vfu::definitions::getInbuiltDefinitions();

    // No transition leads to "Error, no device" in these two: the one that did is commented out.
    EXPECT_EQ (summarise (lintDefinitionText (text, "Lumostrel", false).warnings),
               (Lines{ "unreachable-state Error, no device/State@92" }));
    EXPECT_EQ (summarise (lintDefinitionText (text, "Quillbox", false).warnings),
               (Lines{ "unreachable-state Error, no device/State@381" }));
    EXPECT_TRUE (lintDefinitionText (text, "Orb 26", false).warnings.empty());

    const auto consoleMode = lintDefinitionText (text, "Quillbox", true);
    EXPECT_EQ (consoleMode.loadError,
               "No <FirmwareUpdater> element for 'Quillbox' with consoleMode = true.\n\nThe app will quit.");
    EXPECT_TRUE (consoleMode.warnings.empty());
}

TEST (DefinitionLint, reports_a_rejected_document_with_the_loaders_message_and_no_warnings)
{
    const auto result =
        lintDefinitionText (document (updaterElement ({ { "MIDIDeviceID", "000b" } })), "Quillbox", false);
    EXPECT_FALSE (result.isLoaded());
    EXPECT_EQ (result.loadError, "MIDIDeviceID must only contain hexadecimal numbers.\n\nThe app will quit.");
    EXPECT_TRUE (result.warnings.empty());
}

TEST (DefinitionLint, finds_targets_that_name_no_state_in_buttons_gotostates_and_own_timeouts)
{
    EXPECT_EQ (
        summarise (lintStates (R"xml(<State name="Idle" pollingMode="MIDI Device inquiry" timeoutState="Nowhere">
  <Button name="InstallCancel" text="Install" state="enabled" gotoState="Busy "/>
  <PollingState value="Device detected" gotoState="Busy"/>
</State>
<State name="Busy" pollingMode="none">
  <Check name="versionNumber" value="true">
    <GotoState state="idle"/>
  </Check>
  <GotoState state="Idle"/>
</State>)xml")),
        (Lines{ "unknown-target Idle/State@4", "unknown-target Idle/Button@5", "unknown-target Busy/GotoState@10" }));

    EXPECT_TRUE (lintStates (R"xml(<State name="Idle" pollingMode="MIDI Device inquiry" timeoutState="Busy">
  <Button name="InstallCancel" text="Install" state="enabled" gotoState="Busy"/>
  <Button name="InstallCancel" text="Cancel" state="disabled"/>
</State>
<State name="Busy" pollingMode="none"><GotoState state="Idle"/></State>)xml")
                     .empty());
}

TEST (DefinitionLint, finds_states_nothing_leads_to_and_states_nothing_leads_out_of)
{
    // "Lost" is reached only through a result its source never produces, so it counts as
    // unreachable; "Stuck" polls nothing and has nowhere to go; "Done" is only left by a button
    // inside a Check, which a press never reads.
    EXPECT_EQ (summarise (lintStates (R"xml(<State name="Idle" pollingMode="MIDI Ports">
  <PollingState value="Device detected" gotoState="Done"/>
  <PollingState value="Bootloader detected" gotoState="Lost"/>
</State>
<State name="Lost" pollingMode="none"><GotoState state="Idle"/></State>
<State name="Done" pollingMode="none">
  <Check name="versionNumber" value="true"><Button name="InstallCancel" text="Again" gotoState="Idle"/></Check>
</State>
<State name="Stuck" pollingMode="none"/>)xml")),
               (Lines{ "result-never-produced Idle/PollingState@6", "unreachable-state Lost/State@8",
                       "no-way-out Done/State@9", "unreachable-state Stuck/State@12", "no-way-out Stuck/State@12" }));

    // Time-outs and buttons are ways out and in; the updater's time-out state is "Idle".
    EXPECT_TRUE (lintStates (R"xml(<State name="Idle" pollingMode="MIDI Device inquiry">
  <Button name="InstallCancel" text="Install" state="enabled" gotoState="Busy"/>
</State>
<State name="Busy" pollingMode="Panel state"/>)xml")
                     .empty());
}

TEST (DefinitionLint, finds_results_that_the_polling_never_produces)
{
    EXPECT_EQ (summarise (lintStates (R"xml(<State name="Idle" pollingMode="MIDI Device inquiry">
  <PollingState value="Panel mode detected" gotoState="Busy"/>
  <PollingState value="Device detected" gotoState="Busy"/>
</State>
<State name="Busy" pollingMode="Panel state">
  <PollingState value="Device detected" gotoState="Idle"/>
  <SendSysEx messageKind="erase"><PollingState value="No device" gotoState="Idle"/></SendSysEx>
  <SendSysEx messageKind="fw-$(version)" endPollingMode="MIDI ports">
    <PollingState value="Bootloader detected" gotoState="Idle"/>
  </SendSysEx>
</State>)xml")),
               (Lines{ "result-never-produced Idle/PollingState@5", "result-never-produced Busy/PollingState@9",
                       "result-never-produced Busy/PollingState@10", "result-never-produced Busy/PollingState@12" }));

    // Each mode's own results; after a transfer in "MIDI Device inquiry 2" the state's list is
    // used, and a connection break gives "no device" whatever the end polling mode.
    EXPECT_TRUE (lintStates (R"xml(<State name="Idle" pollingMode="scan all ports">
  <PollingState value="Bootloader detected" gotoState="Busy"/>
</State>
<State name="Busy" pollingMode="MIDI ports">
  <PollingState value="Device detected" gotoState="Panel"/>
  <PollingState value="Panel mode detected" gotoState="Panel"/>
  <SendSysEx messageKind="fw-$(version)" endPollingMode="MIDI Device inquiry 2">
    <PollingState value="No device" gotoState="Idle"/>
  </SendSysEx>
</State>
<State name="Panel" pollingMode="Panel state">
  <PollingState value="Panel update failed" gotoState="Idle"/>
  <SendSysEx messageKind="fw-$(version)" endPollingMode="MIDI Device inquiry">
    <PollingState value="Bootloader detected" gotoState="Idle"/>
  </SendSysEx>
</State>)xml")
                     .empty());
}

TEST (DefinitionLint, finds_checks_and_panel_names_that_the_engine_and_panel_do_not_know)
{
    EXPECT_EQ (
        summarise (lintStates (R"xml(<State name="Idle" pollingMode="MIDI Device inquiry">
  <TextField name="Instructions" text="Hello"/>
  <Button name="Install" text="Install" state="enabled"/>
  <Check name="VersionNumber" value="true"><TextField name="InstalledVersion" text="?(version)"/></Check>
  <TextField name="InstallCancel" text="x"/>
</State>
<State name="Busy" pollingMode="none"><GotoState state="Idle"/></State>)xml")),
        (Lines{ "no-way-out Idle/State@4", "unknown-field Idle/TextField@5", "unknown-field Idle/Button@6",
                "dead-check Idle/Check@7", "unknown-field Idle/TextField@8", "unreachable-state Busy/State@10" }));

    EXPECT_TRUE (lintStates (R"xml(<State name="Idle" pollingMode="MIDI Device inquiry">
  <TextField name="InstructionsField" text="Hello"/>
  <TextField name="AvailableVersion" text="1.0.0"/>
  <TextField name="Installing" visible="false"/>
  <Button name="InstallCancel" text="Install" state="enabled" gotoState="Busy"/>
  <Check name="versionNumber" value="false"><TextField name="InstalledVersion" text="?(version)"/></Check>
</State>
<State name="Busy" pollingMode="none"><GotoState state="Idle"/></State>)xml")
                     .empty());
}

TEST (DefinitionLint, finds_polling_states_shadowed_by_an_earlier_one_for_the_same_result)
{
    const auto warnings = lintStates (R"xml(<State name="Idle" pollingMode="MIDI Device inquiry">
  <PollingState value="Device detected" gotoState="Busy"/>
  <Check name="versionNumber" value="true"><PollingState value="device DETECTED" gotoState="Idle"/></Check>
  <PollingState value="Bootloader detected" gotoState="Busy"/>
  <PollingState value="Bootlader detected" gotoState="Busy"/>
  <PollingState value="No device" gotoState="Busy"/>
</State>
<State name="Busy" pollingMode="MIDI ports">
  <SendSysEx messageKind="fw" endPollingMode="MIDI ports">
    <PollingState value="No device" gotoState="Idle"/>
    <PollingState value="no device" gotoState="Busy"/>
  </SendSysEx>
  <PollingState value="No device" gotoState="Idle"/>
</State>)xml");

    // A misspelt value means "no device", so the real "No device" after it is the shadowed one.
    // ("Idle" is also the updater's time-out state with a "no device" transition.)
    EXPECT_EQ (
        summarise (warnings),
        (Lines{ "timeout-to-self Idle/State@4", "duplicate-polling-state Idle/PollingState@6",
                "duplicate-polling-state Idle/PollingState@9", "duplicate-polling-state Busy/PollingState@14" }));
    ASSERT_EQ (warnings.size(), 4u);
    EXPECT_EQ (warnings[1].message,
               "PollingState 'device DETECTED' is shadowed by the earlier entry for 'device detected' on line 5: "
               "it never fires");

    EXPECT_TRUE (lintStates (R"xml(<State name="Idle" pollingMode="MIDI Device inquiry">
  <PollingState value="Device detected" gotoState="Busy"/>
  <Check name="versionNumber" value="true"><PollingState value="Bootloader detected" gotoState="Busy"/></Check>
</State>
<State name="Busy" pollingMode="MIDI ports">
  <SendSysEx messageKind="fw" endPollingMode="MIDI ports"><PollingState value="Device detected" gotoState="Idle"/></SendSysEx>
  <PollingState value="Device detected" gotoState="Idle"/>
</State>)xml")
                     .empty());
}

TEST (DefinitionLint, finds_time_outs_that_lead_back_to_the_state_itself)
{
    // "Idle" is the updater's time-out state and has a "no device" transition, which stops firing
    // once the time-out is met; "Busy" names itself.
    EXPECT_EQ (summarise (lintStates (R"xml(<State name="Idle" pollingMode="MIDI Device inquiry">
  <PollingState value="No device" gotoState="Busy"/>
</State>
<State name="Busy" pollingMode="MIDI ports" timeoutState="Busy">
  <PollingState value="Device detected" gotoState="Idle"/>
</State>)xml")),
               (Lines{ "timeout-to-self Idle/State@4", "timeout-to-self Busy/State@7" }));

    // An idle state that waits for the device on its own time-out is fine, and so is a state that
    // names itself but polls nothing, so never times out.
    EXPECT_TRUE (lintStates (R"xml(<State name="Idle" pollingMode="MIDI Device inquiry">
  <PollingState value="Device detected" gotoState="Busy"/>
</State>
<State name="Busy" pollingMode="none" timeoutState="Busy"><Wait time="1"/><GotoState state="Idle"/></State>)xml")
                     .empty());
}

TEST (DefinitionLint, finds_clamped_values_and_GotoState_cycles_that_never_pause)
{
    const juce::String states (R"xml(<State name="Idle" pollingMode="MIDI Device inquiry">
  <Wait time="3e6"/>
  <SendSysEx messageKind="panel update state" waitTime="3e9"/>
  <Button name="InstallCancel" text="Go" state="enabled" gotoState="A"/>
</State>
<State name="A" pollingMode="none"><GotoState state="B"/></State>
<State name="B" pollingMode="none"><Wait time="0"/><GotoState state="A"/></State>)xml");

    const auto warnings = lintStates (states);
    EXPECT_EQ (summarise (warnings), (Lines{ "value-out-of-range Idle/Wait@5", "value-out-of-range Idle/SendSysEx@6",
                                             "cycle-without-pause B/State@10" }));
    ASSERT_EQ (warnings.size(), 3u);
    EXPECT_EQ (warnings[0].message, "time '3e6' is more than the longest wait, 2000000 s: 2000000 s is used");
    EXPECT_TRUE (warnings[2].message.contains ("'A' -> 'B' -> 'A'")) << warnings[2].message;

    // A wait of some time in the cycle is a pause.
    EXPECT_EQ (summarise (lintStates (states.replace ("<Wait time=\"0\"/>", "<Wait time=\"0.5\"/>"))),
               (Lines{ "value-out-of-range Idle/Wait@5", "value-out-of-range Idle/SendSysEx@6" }));
}

TEST (DefinitionLint, finds_an_erase_that_no_firmware_transfer_can_follow)
{
    const juce::String states (R"xml(<State name="Idle" pollingMode="MIDI Device inquiry">
  <PollingState value="Bootloader detected" gotoState="Erase"/>
</State>
<State name="Erase" pollingMode="MIDI Device inquiry">
  <SendSysEx messageKind="erase"/>
  <PollingState value="Bootloader detected" gotoState="Download"/>
</State>
<State name="Download" pollingMode="MIDI ports">
  <Check name="versionNumber" value="false"><SendSysEx messageKind="quillbox-fw-$(version)"/></Check>
  <PollingState value="Device detected" gotoState="Idle"/>
</State>)xml");

    // The image inside a Check may be skipped, so the instrument could be left erased.
    EXPECT_EQ (summarise (lintStates (states)), (Lines{ "erase-without-transfer Erase/SendSysEx@8" }));
    EXPECT_TRUE (
        lintStates (states.replace ("<Check name=\"versionNumber\" value=\"false\">", "").replace ("</Check>", ""))
            .empty());
}

TEST (DefinitionLint, finds_firmware_images_that_a_given_package_lacks)
{
    const auto folder = createTemporaryFolder ("lint-packages");
    const auto package = folder.getChildFile (vfu::DeliveredPackage::packageFileName);
    const auto data = vfu::DeliveredPackage::createPackage();
    package.replaceWithData (data.getData(), data.getSize());

    vfu::definitions::LintOptions options;
    options.packages.add (package);
    options.checkImages = true;

    const juce::String states = R"xml(<State name="Idle" pollingMode="MIDI Device inquiry">
  <SendSysEx messageKind="quillbox-fw-$(version)"/>
  <SendSysEx messageKind="erase"/>
  <SendSysEx messageKind="Quillbox-fw-$(version)"/>
</State>
<State name="Busy" pollingMode="none"><GotoState state="Idle"/></State>)xml";

    // "Idle" times out to itself and polls for nothing: it has no way out either.
    const auto warnings = lintStates (states, options);
    EXPECT_EQ (summarise (warnings), (Lines{ "no-way-out Idle/State@4", "missing-image Idle/SendSysEx@7",
                                             "unreachable-state Busy/State@9" }));
    ASSERT_EQ (warnings.size(), 3u);
    EXPECT_EQ (warnings[1].message, "the package of version 2.2.1 has no entry 'Quillbox-fw-2.2.1.syx': the updater "
                                    "does not offer it for this model");

    // Without packages there is nothing to look in; with none accepted, nothing carries any image.
    EXPECT_EQ (summarise (lintStates (states)), (Lines{ "no-way-out Idle/State@4", "unreachable-state Busy/State@9" }));

    options.packages = { folder.getChildFile ("none.vfw") };
    EXPECT_EQ (summarise (lintStates (states, options)),
               (Lines{ "no-way-out Idle/State@4", "missing-image Idle/SendSysEx@5", "missing-image Idle/SendSysEx@7",
                       "unreachable-state Busy/State@9" }));
}

TEST (DefinitionLint, counts_lines_past_comments_declarations_and_markup_in_attribute_values)
{
    const auto text =
        juce::String ("<?xml version=\"1.0\"?>\r\n<!DOCTYPE FirmwareUpdaters [\n<!ELEMENT State ANY>\n]>\n") +
        "<FirmwareUpdaters><!-- <State name=\"x\"\n pollingMode=\"none\"/> -->\n" + updaterTag() +
        "\n<State name=\"Idle\" pollingMode=\"MIDI Device inquiry\"\n  note=\"a > b\">" + "<![CDATA[<Check>\n]]>\n" +
        "<Check name=\"versionNumber &gt; 1\"/></State>\n<State name=\"Busy\" pollingMode=\"none\"/>" +
        "</FirmwareUpdater></FirmwareUpdaters>\n";

    const auto result = lintDefinitionText (text, "Quillbox", false);
    ASSERT_TRUE (result.isLoaded()) << result.loadError;
    EXPECT_EQ (summarise (result.warnings), (Lines{ "no-way-out Idle/State@8", "dead-check Idle/Check@11",
                                                    "unreachable-state Busy/State@12", "no-way-out Busy/State@12" }));
}

TEST (DefinitionLint, formats_a_warning_as_a_line_and_as_a_JSON_object)
{
    const LintWarning warning{ "unknown-target", "Idle", "GotoState", 12, "state 'X' names no state" };

    EXPECT_EQ (vfu::definitions::formatLintWarning (warning, "doc.xml"),
               "doc.xml:12: unknown-target: State 'Idle', GotoState: state 'X' names no state");
    EXPECT_EQ (juce::JSON::toString (vfu::definitions::describeLintWarning (warning), true),
               R"({"code": "unknown-target", "state": "Idle", "element": "GotoState", "line": 12, )"
               R"("message": "state 'X' names no state"})");

    auto unknownLine = warning;
    unknownLine.line = 0;
    EXPECT_EQ (vfu::definitions::formatLintWarning (unknownLine, "doc.xml"),
               "doc.xml: unknown-target: State 'Idle', GotoState: state 'X' names no state");
}
