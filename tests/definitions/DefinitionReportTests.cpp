// What the definition commands of the command-line tool print.

#include "DefinitionDocuments.h"

#include "support/TestEnvironment.h"
#include "definitions/DefinitionReport.h"

#include <gtest/gtest.h>

using namespace vfu::test;
using vfu::definitions::DefinitionCommand;
using vfu::definitions::runDefinitionCommand;

TEST (DefinitionReport, summarises_the_inbuilt_definitions_of_each_model)
{
    EXPECT_EQ (runDefinitionCommand (DefinitionCommand::check, {}, "Quillbox", false).output,
               "OK: 'Quillbox' (consoleMode = false): 13 states, initial state 'Idle, no device'");

    const auto orb = runDefinitionCommand (DefinitionCommand::check, {}, "Orb 26", false);
    EXPECT_EQ (orb.exitCode, 0);
    EXPECT_EQ (orb.output, "OK: 'Orb 26' (consoleMode = false): 17 states, initial state 'Idle, no device'");
}

TEST (DefinitionReport, reports_a_rejected_document_with_its_message_and_exit_code_1)
{
    const auto folder = createTemporaryFolder ("report");
    const auto file = folder.getChildFile ("bad.xml");
    file.replaceWithText (document (updaterElement ({ { "MIDIDeviceID", "000b" } })));

    const auto result = runDefinitionCommand (DefinitionCommand::check, file, "Quillbox", false);
    EXPECT_EQ (result.exitCode, 1);
    EXPECT_EQ (result.output, "MIDIDeviceID must only contain hexadecimal numbers.\n\nThe app will quit.");

    const auto missing = runDefinitionCommand (DefinitionCommand::dump, {}, "Quillbox", true);
    EXPECT_EQ (missing.exitCode, 1);
    EXPECT_EQ (missing.output,
               "No <FirmwareUpdater> element for 'Quillbox' with consoleMode = true.\n\nThe app will quit.");
}

TEST (DefinitionReport, dumps_the_model_as_JSON_with_every_instruction_kind)
{
    const auto folder = createTemporaryFolder ("report");
    const auto file = folder.getChildFile ("all.xml");
    file.replaceWithText (documentWithStates (R"xml(
        <State name="Idle" pollingMode="x" note="kept">
            <TextField name="InstructionsField" text="Hello" visible="false"/>
            <Button name="InstallCancel" text="Install" state="enabled" gotoState="Busy"/>
            <Print text="true"/>
            <SendSysEx messageKind="erase" waitTime="0.082"><PollingState value="bootloader detected" gotoState="Busy"/></SendSysEx>
            <Wait time="2.5"/>
            <GotoState state="Busy"/>
            <Check name="versionNumber" value="true"><Print text="nested"/><PollingState value="Panel erased" gotoState="Busy"/></Check>
        </State>
        <State name="Busy" pollingMode="none"/>)xml"));

    const auto result = runDefinitionCommand (DefinitionCommand::dump, file, "Quillbox", false);
    ASSERT_EQ (result.exitCode, 0) << result.output;

    const auto json = juce::JSON::parse (result.output);
    EXPECT_EQ (json["deviceName"].toString(), "Quillbox");
    EXPECT_FALSE ((bool) json["consoleMode"]);
    EXPECT_EQ ((int) json["midiDeviceId"], 8);
    EXPECT_EQ (json["fileNamePattern"].toString(), "quillbox-fw-");
    EXPECT_TRUE ((bool) json["sha256Check"]);
    EXPECT_EQ ((int) json["timeout"], 45);
    EXPECT_EQ (json["timeoutState"].toString(), "Idle");
    EXPECT_EQ (json["initialState"].toString(), "Idle");

    const auto* states = json["states"].getArray();
    ASSERT_NE (states, nullptr);
    ASSERT_EQ (states->size(), 2);
    EXPECT_EQ ((*states)[0]["name"].toString(), "Busy"); // the model's order
    const auto idle = (*states)[1];
    EXPECT_EQ (idle["name"].toString(), "Idle");
    EXPECT_EQ (idle["attributes"]["note"].toString(), "kept");
    EXPECT_EQ (idle["attributes"]["pollingMode"].toString(), "x");
    EXPECT_EQ (idle["pollingStates"]["6"].toString(), "Busy");

    const auto* instructions = idle["instructions"].getArray();
    ASSERT_NE (instructions, nullptr);
    ASSERT_EQ (instructions->size(), 7);

    juce::StringArray kinds;
    for (const auto& instruction : *instructions)
        kinds.add (instruction["kind"].toString());
    EXPECT_EQ (kinds, juce::StringArray ("TextField", "Button", "Print", "SendSysEx", "Wait", "GotoState", "Check"));

    EXPECT_EQ ((*instructions)[0]["text"].toString(), "Hello");
    EXPECT_FALSE ((bool) (*instructions)[0]["visible"]);
    EXPECT_EQ ((*instructions)[1]["gotoState"].toString(), "Busy");
    EXPECT_TRUE ((bool) (*instructions)[2]["flag"]);
    EXPECT_EQ ((int) (*instructions)[3]["packetSize"], 256);
    EXPECT_EQ ((*instructions)[3]["pollingStates"]["3"].toString(), "Busy");
    EXPECT_EQ ((*instructions)[4]["time"].toString(), "2.5");
    EXPECT_EQ ((*instructions)[5]["state"].toString(), "Busy");
    EXPECT_TRUE ((bool) (*instructions)[6]["value"]);
    EXPECT_EQ ((*instructions)[6]["instructions"][0]["text"].toString(), "nested");

    // Wait times print as written, not as the digits of their float approximation.
    EXPECT_TRUE (result.output.contains ("0.082")) << result.output;
    EXPECT_FALSE (result.output.contains ("0.08200")) << result.output;
}
