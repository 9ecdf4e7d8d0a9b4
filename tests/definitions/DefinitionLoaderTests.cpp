// What the loader builds from an accepted document: the updater's fields, the states, their
// attributes, instructions and transitions.

#include "DefinitionDocuments.h"

#include "core/Log.h"
#include "core/Clock.h"
#include "midi/MIDIPortsSelector.h"

#include <gtest/gtest.h>

using namespace vfu::test;
using State = FirmwareUpdater::State;

TEST (DefinitionLoader, reads_the_updater_fields)
{
    const auto updater = loadText (document (updaterElement ({ { "MIDIDeviceID", "FFFF" }, { "timeout", "30" } })));

    EXPECT_EQ (updater->getDeviceName(), "Quillbox");
    EXPECT_FALSE (updater->getConsoleMode());
    EXPECT_EQ (updater->getMidiDeviceId(), 65535);
    EXPECT_EQ (updater->getFileNamePattern(), "quillbox-fw-");
    EXPECT_TRUE (updater->getSha256Check());
    EXPECT_EQ (updater->getTimeout(), 30);
    EXPECT_EQ (updater->getTimeoutState(), "Idle");
    ASSERT_NE (updater->getMachine(), nullptr);
    EXPECT_EQ (updater->getMachine()->initialStateName, "Idle");
    EXPECT_FALSE (updater->isThreadRunning());
}

TEST (DefinitionLoader, reads_MIDIDeviceID_as_four_hexadecimal_digits)
{
    EXPECT_EQ (loadText (document (updaterElement ({ { "MIDIDeviceID", "0009" } })))->getMidiDeviceId(), 9);
    EXPECT_EQ (loadText (document (updaterElement ({ { "MIDIDeviceID", "000B" } })))->getMidiDeviceId(), 11);
    EXPECT_EQ (loadText (document (updaterElement ({ { "MIDIDeviceID", "1A2F" } })))->getMidiDeviceId(), 0x1A2F);
}

TEST (DefinitionLoader, reads_timeout_as_a_leading_integer)
{
    EXPECT_EQ (loadText (document (updaterElement ({ { "timeout", "abc" } })))->getTimeout(), 0);
    EXPECT_EQ (loadText (document (updaterElement ({ { "timeout", "45s" } })))->getTimeout(), 45);
    EXPECT_EQ (loadText (document (updaterElement ({ { "timeout", " +7" } })))->getTimeout(), 7);
    EXPECT_EQ (loadText (document (updaterElement ({ { "timeout", "-5" } })))->getTimeout(), -5);
}

TEST (DefinitionLoader, reads_SHA256Check_true_only_when_written_exactly)
{
    EXPECT_FALSE (loadText (document (updaterElement ({ { "SHA256Check", "True" } })))->getSha256Check());
    EXPECT_FALSE (loadText (document (updaterElement ({ { "SHA256Check", nullptr } })))->getSha256Check());
}

TEST (DefinitionLoader, loads_only_the_requested_definition_under_its_key)
{
    const auto text = document (updaterElement ({ { "deviceName", "Lumostrel" }, { "MIDIDeviceID", "000B" } }) +
                                updaterElement ({ { "consoleMode", "true" }, { "MIDIDeviceID", "0001" } }) +
                                updaterElement ({ { "MIDIDeviceID", "0008" } }));
    const auto updater = loadText (text, "Quillbox", true);

    ASSERT_EQ (updater->getMachines().size(), 1u);
    EXPECT_EQ (updater->getMachines().begin()->first, FirmwareUpdater::MachineKey ("Quillbox", true));
    EXPECT_EQ (updater->getMidiDeviceId(), 1);
    EXPECT_TRUE (updater->getConsoleMode());
}

TEST (DefinitionLoader, keeps_every_state_attribute_but_the_name)
{
    const auto updater = loadText (documentWithStates (
        R"xml(<State name="Idle" pollingMode="MIDI ports" timeoutState="Busy" description="waits &amp; sees"/>
           <State name="Busy" pollingMode="none"/>)xml"));
    const auto& idle = stateOf (*updater, "Idle");

    EXPECT_EQ (idle.name, "Idle");
    EXPECT_EQ (idle.attributes.size(), 3u);
    EXPECT_FALSE (idle.hasAttribute ("name"));
    EXPECT_EQ (idle.getAttribute ("pollingMode"), "MIDI ports");
    EXPECT_EQ (idle.getAttribute ("timeoutState"), "Busy");
    EXPECT_EQ (idle.getAttribute ("description"), "waits & sees");
    EXPECT_FALSE (idle.hasAttribute ("Description"));
    EXPECT_EQ (idle.getAttribute ("missing"), "");
}

TEST (DefinitionLoader, finds_states_by_exact_name_only)
{
    const auto updater = loadText (document (updaterElement()));

    EXPECT_NE (updater->getMachine()->getState ("Busy"), nullptr);
    EXPECT_EQ (updater->getMachine()->getState ("busy"), nullptr);
    EXPECT_EQ (updater->getMachine()->getState ("Busy "), nullptr);
}

TEST (DefinitionLoader, builds_each_instruction_with_its_attributes)
{
    const auto updater = loadText (documentWithStates (R"xml(
        <State name="Idle" pollingMode="x">
            <TextField name="InstalledVersion" text="?(version)" visible="no"/>
            <TextField name="Installing" visible="false"/>
            <Button name="InstallCancel" text="Install" state="enabled" gotoState="Busy"/>
            <Button/>
            <Print text="hello"/>
            <Print text="true"/>
            <SendSysEx messageKind="quillbox-fw-$(version)" endPollingMode="MIDI Device inquiry" packetSize="100" waitTime="0.082"/>
            <Wait time="2.5"/>
            <GotoState state="Busy"/>
            <Check name="versionNumber" value="true"/>
            <Check name="versionNumber" value="yes"/>
        </State>
        <State name="Busy" pollingMode="none"/>)xml"));
    const auto& list = stateOf (*updater, "Idle").instructions;

    ASSERT_EQ (list.size(), 11u);

    const auto* version = instructionAt<State::TextFieldInstruction> (list, 0);
    ASSERT_NE (version, nullptr);
    EXPECT_EQ (version->name, "InstalledVersion");
    EXPECT_EQ (version->text, "?(version)");
    EXPECT_TRUE (version->visible);

    const auto* installing = instructionAt<State::TextFieldInstruction> (list, 1);
    ASSERT_NE (installing, nullptr);
    EXPECT_EQ (installing->text, "");
    EXPECT_FALSE (installing->visible);

    const auto* button = instructionAt<State::ButtonInstruction> (list, 2);
    ASSERT_NE (button, nullptr);
    EXPECT_EQ (button->name, "InstallCancel");
    EXPECT_EQ (button->text, "Install");
    EXPECT_EQ (button->state, "enabled");
    EXPECT_EQ (button->gotoState, "Busy");

    const auto* emptyButton = instructionAt<State::ButtonInstruction> (list, 3);
    ASSERT_NE (emptyButton, nullptr);
    EXPECT_EQ (emptyButton->gotoState, "");

    const auto* print = instructionAt<State::PrintInstruction> (list, 4);
    ASSERT_NE (print, nullptr);
    EXPECT_EQ (print->text, "hello");
    EXPECT_FALSE (print->getFlag());
    ASSERT_NE (instructionAt<State::PrintInstruction> (list, 5), nullptr);
    EXPECT_TRUE (instructionAt<State::PrintInstruction> (list, 5)->getFlag());

    const auto* send = instructionAt<State::SendSysExInstruction> (list, 6);
    ASSERT_NE (send, nullptr);
    EXPECT_EQ (send->messageKind, "quillbox-fw-$(version)");
    EXPECT_EQ (send->endPollingMode, "MIDI Device inquiry");
    EXPECT_EQ (send->packetSize, 100);
    EXPECT_FLOAT_EQ (send->waitTime, 0.082f);
    EXPECT_TRUE (send->pollingStates.empty());

    const auto* wait = instructionAt<State::WaitInstruction> (list, 7);
    ASSERT_NE (wait, nullptr);
    EXPECT_FLOAT_EQ (wait->time, 2.5f);

    const auto* gotoState = instructionAt<State::GotoStateInstruction> (list, 8);
    ASSERT_NE (gotoState, nullptr);
    EXPECT_EQ (gotoState->state, "Busy");

    const auto* check = instructionAt<State::CheckInstruction> (list, 9);
    ASSERT_NE (check, nullptr);
    EXPECT_EQ (check->name, "versionNumber");
    EXPECT_TRUE (check->value);
    ASSERT_NE (instructionAt<State::CheckInstruction> (list, 10), nullptr);
    EXPECT_FALSE (instructionAt<State::CheckInstruction> (list, 10)->value);
}

TEST (DefinitionLoader, applies_the_packet_size_and_wait_time_rules)
{
    vfu::LogCollector log;

    struct Case
    {
        const char* attributes;
        int packetSize;
        float waitTime;
    };

    const Case cases[] = {
        { "", 256, 0.5f },
        { R"xml(packetSize="16" waitTime="0")xml", 256, 0.5f },
        { R"xml(packetSize="31" waitTime="-1")xml", 256, 0.5f },
        { R"xml(packetSize="32" waitTime="0.02")xml", 32, 0.02f },
        { R"xml(packetSize="100" waitTime="1")xml", 100, 1.0f },
        { R"xml(packetSize="256")xml", 256, 0.5f },
        { R"xml(packetSize="257")xml", 256, 0.5f },
        { R"xml(packetSize="1000")xml", 256, 0.5f },
        { R"xml(packetSize="4294967328")xml", 256, 0.5f }, // would wrap to 32 in 32 bits
        { R"xml(packetSize=" 64 bytes" waitTime=" 0.25s")xml", 64, 0.25f },
        { R"xml(waitTime="abc")xml", 256, 0.5f },
        { R"xml(waitTime="nan")xml", 256, 0.5f },
        { R"xml(waitTime="inf")xml", 256, 0.5f },
        { R"xml(waitTime="1e40")xml", 256, 0.5f },  // beyond the float range
        { R"xml(waitTime="3e9")xml", 256, 2.0e9f }, // its pause in milliseconds would overflow an int
    };

    for (const auto& c : cases)
    {
        const auto updater = loadText (documentWithStates ("<State name=\"Idle\" pollingMode=\"x\"><SendSysEx " +
                                                           juce::String (c.attributes) + "/></State>"));
        const auto* send = instructionAt<State::SendSysExInstruction> (stateOf (*updater, "Idle").instructions, 0);

        ASSERT_NE (send, nullptr) << c.attributes;
        EXPECT_EQ (send->packetSize, c.packetSize) << c.attributes;
        EXPECT_FLOAT_EQ (send->waitTime, c.waitTime) << c.attributes;
    }

    EXPECT_EQ (log.getLines(), juce::StringArray ("State 'Idle' : SendSysEx waitTime '3e9' is more than the longest "
                                                  "pause after a packet, 2000000000 ms: 2000000000 ms is used"));
}

TEST (DefinitionLoader, stores_a_wait_time_of_zero_or_less_as_zero)
{
    const auto updater = loadText (documentWithStates (R"xml(<State name="Idle" pollingMode="x">
        <Wait time="-2"/><Wait/><Wait time="0.001"/><Wait time="-inf"/><Wait time="3e6"/></State>)xml"));
    const auto& list = stateOf (*updater, "Idle").instructions;

    ASSERT_EQ (list.size(), 5u);
    // Longer than the engine's whole milliseconds can hold: clamped, as a Wait of 2e6 s still waits.
    EXPECT_EQ (instructionAt<State::WaitInstruction> (list, 4)->time, 2.0e6f);
    EXPECT_EQ (instructionAt<State::WaitInstruction> (list, 0)->time, 0.0f);
    EXPECT_EQ (instructionAt<State::WaitInstruction> (list, 1)->time, 0.0f);
    EXPECT_FLOAT_EQ (instructionAt<State::WaitInstruction> (list, 2)->time, 0.001f);
    EXPECT_EQ (instructionAt<State::WaitInstruction> (list, 3)->time, 0.0f);
}

TEST (DefinitionLoader, maps_poll_result_names_case_insensitively_with_the_first_entry_winning)
{
    const auto updater = loadText (documentWithStates (R"xml(
        <State name="Idle" pollingMode="x">
            <PollingState value="Device Detected" gotoState="Busy"/>
            <PollingState value="No device" gotoState="Busy"/>
            <PollingState value="no device" gotoState="Idle"/>
            <PollingState value="something else" gotoState="Idle"/>
            <PollingState value="PANEL UPDATE FAILED" gotoState="Idle"/>
            <PollingState value="panel erased" gotoState="Busy"/>
        </State>
        <State name="Busy" pollingMode="none">
            <PollingState value="unknown words" gotoState="Idle"/>
            <PollingState value="No Device" gotoState="Busy"/>
            <PollingState value=" no device" gotoState="Busy"/>
        </State>)xml"));
    const auto& idle = stateOf (*updater, "Idle").pollingStates;
    const auto& busy = stateOf (*updater, "Busy").pollingStates;

    const FirmwareUpdater::PollingStateList expectedIdle{
        { DeviceDetected, "Busy" }, { NoDevice, "Busy" }, { PanelUpdateFailed, "Idle" }, { PanelErased, "Busy" }
    };
    EXPECT_EQ (idle, expectedIdle);

    // A value that names no result counts as "no device", so it takes that place first.
    const FirmwareUpdater::PollingStateList expectedBusy{ { NoDevice, "Idle" } };
    EXPECT_EQ (busy, expectedBusy);
}

TEST (DefinitionLoader, maps_every_poll_result_name_to_its_code)
{
    const char* const names[] = {
        "no device",    "device detected",        "bootloader detected",      "panel mode detected", "panel no update",
        "panel erased", "panel firmware sending", "panel firmware succeeded", "panel update failed"
    };
    juce::String states ("<State name=\"Idle\" pollingMode=\"x\">");

    for (auto* name : names)
        states << "<PollingState value=\"" << name << "\" gotoState=\"" << name << "\"/>";

    states << "</State>";

    for (auto* name : names)
        states << "<State name=\"" << name << "\" pollingMode=\"x\"/>";

    const auto updater = loadText (documentWithStates (states));
    const auto& list = stateOf (*updater, "Idle").pollingStates;

    ASSERT_EQ (list.size(), 9u);

    for (int code = 1; code <= 9; ++code)
        EXPECT_EQ (list.at ((PollResult) code), names[code - 1]);
}

TEST (DefinitionLoader, puts_PollingStates_inside_Checks_into_the_states_own_list)
{
    const auto updater = loadText (documentWithStates (R"xml(
        <State name="Idle" pollingMode="x">
            <Check name="no such condition" value="false">
                <PollingState value="bootloader detected" gotoState="Busy"/>
                <Check name="versionNumber" value="true">
                    <GotoState state="Busy"/>
                    <PollingState value="device detected" gotoState="Idle"/>
                    <Print text="deep"/>
                </Check>
                <Wait time="1"/>
            </Check>
            <PollingState value="bootloader detected" gotoState="Idle"/>
        </State>
        <State name="Busy" pollingMode="none"/>)xml"));
    const auto& idle = stateOf (*updater, "Idle");

    const FirmwareUpdater::PollingStateList expected{ { DeviceDetected, "Idle" }, { BootloaderDetected, "Busy" } };
    EXPECT_EQ (idle.pollingStates, expected);

    ASSERT_EQ (idle.instructions.size(), 1u);
    const auto* outer = instructionAt<State::CheckInstruction> (idle.instructions, 0);
    ASSERT_NE (outer, nullptr);
    ASSERT_EQ (outer->instructions.size(), 2u);
    ASSERT_NE (instructionAt<State::WaitInstruction> (outer->instructions, 1), nullptr);

    const auto* inner = instructionAt<State::CheckInstruction> (outer->instructions, 0);
    ASSERT_NE (inner, nullptr);
    ASSERT_EQ (inner->instructions.size(), 2u);
    ASSERT_NE (instructionAt<State::GotoStateInstruction> (inner->instructions, 0), nullptr);
    ASSERT_NE (instructionAt<State::PrintInstruction> (inner->instructions, 1), nullptr);
    EXPECT_EQ (instructionAt<State::PrintInstruction> (inner->instructions, 1)->text, "deep");
}

TEST (DefinitionLoader, keeps_SendSysEx_transitions_apart_from_the_states_with_the_first_entry_winning)
{
    const auto updater = loadText (documentWithStates (R"xml(
        <State name="Idle" pollingMode="x">
            <SendSysEx messageKind="erase">
                <PollingState value="No device" gotoState="Busy"/>
                <Wait time="3"/>
                <PollingState value="NO DEVICE" gotoState="Idle"/>
                <PollingState value="Device detected" gotoState="Idle"/>
            </SendSysEx>
        </State>
        <State name="Busy" pollingMode="none"/>)xml"));
    const auto& idle = stateOf (*updater, "Idle");

    EXPECT_TRUE (idle.pollingStates.empty());
    ASSERT_EQ (idle.instructions.size(), 1u);

    const auto* send = instructionAt<State::SendSysExInstruction> (idle.instructions, 0);
    ASSERT_NE (send, nullptr);
    const FirmwareUpdater::PollingStateList expected{ { NoDevice, "Busy" }, { DeviceDetected, "Idle" } };
    EXPECT_EQ (send->pollingStates, expected);
}

TEST (DefinitionLoader, logs_and_skips_unknown_instructions_inside_states_and_checks_only)
{
    vfu::LogCollector log;
    const auto updater = loadText (documentWithStates (R"xml(
        <State name="Idle" pollingMode="x">
            <Pause time="1"/>
            <textfield text="lower case is another element"/>
            <Check name="versionNumber"><Sleep/></Check>
            <SendSysEx><Ignored/></SendSysEx>
            free text in a state
        </State>
        <Stray/>
        <State name="Busy" pollingMode="none"/>)xml"));

    EXPECT_EQ (log.getLines(), juce::StringArray ("Unknown instruction : Pause", "Unknown instruction : textfield",
                                                  "Unknown instruction : Sleep"));
    EXPECT_EQ (stateOf (*updater, "Idle").instructions.size(), 2u);
}

TEST (DefinitionLoader, appends_the_text_content_of_a_TextField_to_its_text_attribute)
{
    const auto updater = loadText (documentWithStates (
        "<State name=\"Idle\" pollingMode=\"x\">"
        "<TextField name=\"a\" text=\"Version: \">?(version) <b>bold</b> &amp; <![CDATA[<raw>]]></TextField>"
        "<TextField name=\"b\">\r\n  indented\r\n  lines\r\n</TextField>"
        "<TextField name=\"c\" text=\"line one\r\n    \r\nline two\"/>"
        "<TextField name=\"d\">&#32;&#10;</TextField>"
        "<TextField name=\"e\"><!-- hidden -->shown</TextField>"
        "</State>"));
    const auto& list = stateOf (*updater, "Idle").instructions;

    ASSERT_EQ (list.size(), 5u);
    EXPECT_EQ (instructionAt<State::TextFieldInstruction> (list, 0)->text, "Version: ?(version) bold & <raw>");
    // The XML reader turns the line ends of element content into line feeds.
    EXPECT_EQ (instructionAt<State::TextFieldInstruction> (list, 1)->text, "\n  indented\n  lines\n");
    // Attribute values keep their line ends as written.
    EXPECT_EQ (instructionAt<State::TextFieldInstruction> (list, 2)->text, "line one\r\n    \r\nline two");
    // Content of white space alone, written as references, is content too.
    EXPECT_EQ (instructionAt<State::TextFieldInstruction> (list, 3)->text, " \n");
    EXPECT_EQ (instructionAt<State::TextFieldInstruction> (list, 4)->text, "shown");
}

TEST (DefinitionLoader, takes_at_most_1024_characters_of_TextField_content_but_the_whole_attribute)
{
    const auto attribute = juce::String::repeatedString ("a", 2000);
    const auto content = juce::String::repeatedString ("0123456789", 110);
    const auto updater = loadText (documentWithStates ("<State name=\"Idle\" pollingMode=\"x\"><TextField text=\"" +
                                                       attribute + "\">" + content + "</TextField></State>"));
    const auto* field = instructionAt<State::TextFieldInstruction> (stateOf (*updater, "Idle").instructions, 0);

    ASSERT_NE (field, nullptr);
    EXPECT_EQ (field->text, attribute + content.substring (0, 1024));
}

TEST (DefinitionLoader, counts_the_content_limit_in_characters_not_bytes)
{
    const auto content = juce::String::repeatedString (juce::String::fromUTF8 ("\xc3\xa9"), 1100);
    const auto updater = loadText (
        documentWithStates ("<State name=\"Idle\" pollingMode=\"x\"><TextField>" + content + "</TextField></State>"));

    EXPECT_EQ (instructionAt<State::TextFieldInstruction> (stateOf (*updater, "Idle").instructions, 0)->text.length(),
               1024);
}

TEST (DefinitionLoader, reads_documents_with_byte_order_marks_from_files)
{
    const auto folder = createTemporaryFolder ("bom");
    const auto text = document (updaterElement());

    const auto utf8 = folder.getChildFile ("utf8.xml");
    juce::MemoryOutputStream utf8Data;
    utf8Data.write ("\xef\xbb\xbf", 3);
    utf8Data << text;
    ASSERT_TRUE (utf8.replaceWithData (utf8Data.getData(), utf8Data.getDataSize()));

    const auto utf16 = folder.getChildFile ("utf16.xml");
    {
        juce::FileOutputStream out (utf16);
        ASSERT_TRUE (out.openedOk());
        out.writeText (text, true, true, nullptr);
    }

    for (const auto& file : juce::Array<juce::File>{ utf8, utf16 })
    {
        const auto updater = std::make_unique<FirmwareUpdater> (file, "Quillbox", false, nullptr,
                                                                juce::Array<juce::File>(), withoutProgramArchive());
        EXPECT_EQ (updater->getMachine()->states.size(), 2u) << file.getFileName();
    }
}

TEST (DefinitionLoader, reports_a_missing_or_unreadable_file_as_a_wrong_root)
{
    const auto folder = createTemporaryFolder ("unreadable");
    const auto expected = juce::String ("<FirmwareUpdaters> must be the root element.\n\nThe app will quit.");

    for (const auto& file :
         juce::Array<juce::File>{ folder.getChildFile ("absent.xml"), folder, folder.getChildFile ("one byte.xml") })
    {
        if (file.getFileName() == "one byte.xml")
            file.replaceWithText ("<");

        try
        {
            FirmwareUpdater updater (file, "Quillbox", false, nullptr, {}, withoutProgramArchive());
            ADD_FAILURE() << "accepted " << file.getFullPathName();
        }
        catch (const FirmwareUpdater::FirmwareUpdaterException& e)
        {
            EXPECT_EQ (e.message, expected);
        }
    }
}

namespace
{
class NoPortsLayer final : public vfu::MidiLayer
{
public:
    juce::StringArray getInputNames() override { return {}; }
    juce::StringArray getOutputNames() override { return {}; }
    std::unique_ptr<vfu::MidiInputConnection> openInput (int, vfu::MidiReceiver&) override { return {}; }
    std::unique_ptr<vfu::MidiOutputConnection> openOutput (int) override { return {}; }
};
} // namespace

TEST (DefinitionLoader, uses_the_given_ports_selector_and_clock_or_the_program_wide_ones)
{
    const auto text = document (updaterElement());
    const auto withDefaults = loadText (text);

    EXPECT_EQ (&withDefaults->getPortsSelector(), &MIDIPortsSelector::getProgramWideInstance());
    EXPECT_EQ (&withDefaults->getClock(), &vfu::Clock::getRealClock());

    vfu::ScaledClock clock (10.0);
    NoPortsLayer layer;
    MIDIPortsSelector selector (layer, clock);
    auto environment = withoutProgramArchive();
    environment.clock = &clock;
    environment.portsSelector = &selector;

    {
        FirmwareUpdater injected (text, "Quillbox", false, nullptr, {}, environment);
        EXPECT_EQ (&injected.getClock(), &clock);
        EXPECT_EQ (&injected.getPortsSelector(), &selector);
    }
}
