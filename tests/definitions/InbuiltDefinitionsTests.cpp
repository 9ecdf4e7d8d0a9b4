// The definition document built into the program.

#include "DefinitionDocuments.h"

#include "core/Log.h"
#include "definitions/InbuiltDefinitions.h"

#include <gtest/gtest.h>

using namespace vfu::test;
using State = FirmwareUpdater::State;

namespace
{
std::unique_ptr<FirmwareUpdater> loadInbuilt (const juce::String& deviceName)
{
    return loadText (vfu::definitions::getInbuiltDefinitions(), deviceName, false);
}

juce::StringArray stateNamesInDocumentOrder (const juce::String& deviceName)
{
    const auto root = juce::parseXML (vfu::definitions::getInbuiltDefinitions());
    juce::StringArray names;

    for (auto* updater : root->getChildWithTagNameIterator ("FirmwareUpdater"))
        if (updater->getStringAttribute ("deviceName") == deviceName)
            for (auto* state : updater->getChildWithTagNameIterator ("State"))
                names.add (state->getStringAttribute ("name"));

    return names;
}

// The text of the first TextField of that name in the list, or "(none)".
juce::String textFieldText (const State::InstructionList& list, const juce::String& name)
{
    for (const auto& instruction : list)
        if (auto* field = dynamic_cast<const State::TextFieldInstruction*> (instruction.get()))
            if (field->name == name)
                return field->text;

    return "(none)";
}

const State::SendSysExInstruction* firstSendSysEx (const State& state)
{
    for (const auto& instruction : state.instructions)
        if (auto* send = dynamic_cast<const State::SendSysExInstruction*> (instruction.get()))
            return send;

    return nullptr;
}
} // namespace

TEST (InbuiltDefinitions, is_ASCII_with_CR_LF_line_ends_only)
{
    const auto& text = vfu::definitions::getInbuiltDefinitions();
    const auto* bytes = text.toRawUTF8();
    const auto size = text.getNumBytesAsUTF8();

    ASSERT_GT (size, 1000u);

    for (size_t i = 0; i < size; ++i)
    {
        const auto c = (unsigned char) bytes[i];

        ASSERT_TRUE (c == '\r' || c == '\n' || (c >= 0x20 && c < 0x7f)) << "byte " << (int) c << " at " << i;

        if (c == '\r')
        {
            ASSERT_EQ (bytes[i + 1], '\n') << "lone CR at " << i;
        }

        if (c == '\n')
        {
            ASSERT_TRUE (i > 0 && bytes[i - 1] == '\r') << "lone LF at " << i;
        }
    }

    EXPECT_TRUE (text.endsWith ("</FirmwareUpdaters>\r\n"));
}

TEST (InbuiltDefinitions, holds_the_three_device_models_in_order)
{
    const auto root = juce::parseXML (vfu::definitions::getInbuiltDefinitions());
    ASSERT_NE (root, nullptr);
    EXPECT_EQ (root->getTagName(), "FirmwareUpdaters");

    juce::StringArray devices;

    for (auto* updater : root->getChildWithTagNameIterator ("FirmwareUpdater"))
    {
        devices.add (updater->getStringAttribute ("deviceName"));
        EXPECT_EQ (updater->getStringAttribute ("communicationMode"), "MIDI");
        EXPECT_EQ (updater->getStringAttribute ("consoleMode"), "false");
        EXPECT_EQ (updater->getStringAttribute ("SHA256Check"), "true");
        EXPECT_EQ (updater->getStringAttribute ("timeout"), "45");
        EXPECT_EQ (updater->getStringAttribute ("initialState"), "Idle, no device");
        EXPECT_EQ (updater->getStringAttribute ("timeoutState"), "Idle, no device");
        EXPECT_EQ (updater->hasAttribute ("minimumVersion"), updater->getStringAttribute ("deviceName") == "Orb 26");
    }

    EXPECT_EQ (devices, juce::StringArray ("Lumostrel", "Orb 26", "Quillbox"));

    // Some transitions and buttons are switched off by comments, which the loader never sees.
    const auto& text = vfu::definitions::getInbuiltDefinitions();
    EXPECT_TRUE (text.contains ("<!-- <PollingState "));
    EXPECT_TRUE (text.contains ("<!-- <Button "));
}

TEST (InbuiltDefinitions, loads_for_each_model_with_its_states_and_identity)
{
    struct Model
    {
        const char* name;
        juce::uint16 deviceId;
        const char* fileNamePattern;
        size_t states;
    };

    for (const auto& model :
         { Model{ "Lumostrel", 0x000B, "lmstr-fw-", 13 }, Model{ "Orb 26", 0x000C, "orb26-fw-", 17 },
           Model{ "Quillbox", 0x0008, "quillbox-fw-", 13 } })
    {
        vfu::LogCollector log;
        const auto updater = loadInbuilt (model.name);

        EXPECT_EQ (updater->getMidiDeviceId(), model.deviceId) << model.name;
        EXPECT_EQ (updater->getFileNamePattern(), model.fileNamePattern) << model.name;
        EXPECT_TRUE (updater->getSha256Check());
        EXPECT_EQ (updater->getTimeout(), 45);
        EXPECT_EQ (updater->getTimeoutState(), "Idle, no device");
        EXPECT_EQ (updater->getMachine()->initialStateName, "Idle, no device");
        EXPECT_EQ (updater->getMachine()->states.size(), model.states) << model.name;
        EXPECT_EQ (stateNamesInDocumentOrder (model.name).size(), (int) model.states) << "no state name is repeated";
        EXPECT_TRUE (log.getLines().isEmpty()) << log.getLines().joinIntoString ("\n");
    }
}

TEST (InbuiltDefinitions, holds_no_definition_for_other_devices_or_console_mode)
{
    EXPECT_EQ (rejectionOf (vfu::definitions::getInbuiltDefinitions(), "Quillbox", true),
               "No <FirmwareUpdater> element for 'Quillbox' with consoleMode = true.\n\nThe app will quit.");
    EXPECT_EQ (rejectionOf (vfu::definitions::getInbuiltDefinitions(), "Orb 27", false),
               "No <FirmwareUpdater> element for 'Orb 27' with consoleMode = false.\n\nThe app will quit.");
}

TEST (InbuiltDefinitions, gives_Lumostrel_and_Quillbox_the_same_states_in_the_same_order)
{
    const auto lumostrel = stateNamesInDocumentOrder ("Lumostrel");

    EXPECT_EQ (lumostrel, stateNamesInDocumentOrder ("Quillbox"));
    EXPECT_EQ (lumostrel,
               juce::StringArray ("Idle, no device", "Idle, device detected", "Waiting", "Idle, bootloader detected",
                                  "Firmware erase", "Erase, waiting for reattach", "Firmware download",
                                  "Waiting for new firmware", "Update cancelled", "Download complete",
                                  "Error, no device", "Error, device detected", "Error, bootloader detected"));
}

TEST (InbuiltDefinitions, lists_the_Orb_26_states_in_order)
{
    EXPECT_EQ (stateNamesInDocumentOrder ("Orb 26"),
               juce::StringArray ("Idle, no device", "Idle, device detected", "Idle, bootloader detected",
                                  "Idle, panel update mode", "Waiting for erase", "DSP download",
                                  "Waiting for reattach, DSP", "Waiting for reattach, DSP check", "Panel erase",
                                  "Panel download", "Waiting for reattach, panel", "Waiting for reattach, panel check",
                                  "Update cancelled", "Download complete", "Error, no device", "Error, device detected",
                                  "Error, bootloader detected"));
}

TEST (InbuiltDefinitions, starts_each_Quillbox_state_with_version_instructions_installing_and_button)
{
    const auto updater = loadInbuilt ("Quillbox");
    const auto& idle = stateOf (*updater, "Idle, no device");

    EXPECT_EQ (idle.getAttribute ("pollingMode"), "MIDI Device inquiry");
    ASSERT_EQ (idle.instructions.size(), 4u);
    EXPECT_EQ (instructionAt<State::TextFieldInstruction> (idle.instructions, 0)->name, "InstalledVersion");
    EXPECT_EQ (instructionAt<State::TextFieldInstruction> (idle.instructions, 0)->text, "No device");
    EXPECT_EQ (instructionAt<State::TextFieldInstruction> (idle.instructions, 1)->name, "InstructionsField");
    EXPECT_EQ (instructionAt<State::TextFieldInstruction> (idle.instructions, 2)->name, "Installing");
    EXPECT_FALSE (instructionAt<State::TextFieldInstruction> (idle.instructions, 2)->visible);

    const auto* button = instructionAt<State::ButtonInstruction> (idle.instructions, 3);
    ASSERT_NE (button, nullptr);
    EXPECT_EQ (button->name, "InstallCancel");
    EXPECT_EQ (button->text, "Cancel");
    EXPECT_EQ (button->state, "disabled");

    const FirmwareUpdater::PollingStateList transitions{ { DeviceDetected, "Idle, device detected" },
                                                         { BootloaderDetected, "Idle, bootloader detected" } };
    EXPECT_EQ (idle.pollingStates, transitions);
}

TEST (InbuiltDefinitions, gives_the_Quillbox_its_own_texts)
{
    const auto updater = loadInbuilt ("Quillbox");
    const auto instructionsOf = [&updater] (const char* state)
    { return textFieldText (stateOf (*updater, state).instructions, "InstructionsField"); };

    // Two paragraphs: a line break, a line of spaces and another line break between them.
    const auto idleText = instructionsOf ("Idle, no device");
    EXPECT_TRUE (idleText.contains ("USB hub")) << idleText;
    const auto paragraphs = juce::StringArray::fromLines (idleText);
    ASSERT_EQ (paragraphs.size(), 3) << idleText;
    EXPECT_TRUE (paragraphs[1].isNotEmpty() && paragraphs[1].trim().isEmpty());
    EXPECT_TRUE (paragraphs[2].startsWith ("NOTE:"));
    EXPECT_TRUE (paragraphs[2].contains ("virtual machines"));

    const auto steps = juce::StringArray::fromLines (instructionsOf ("Idle, device detected"));
    ASSERT_EQ (steps.size(), 6);
    EXPECT_EQ (steps[0], "To start the update, please:");
    EXPECT_TRUE (steps[1].trim().isEmpty());

    for (int i = 1; i <= 4; ++i)
        EXPECT_TRUE (steps[i + 1].startsWith (juce::String (i) + ". ")) << steps[i + 1];

    EXPECT_EQ (instructionsOf ("Waiting"), "Waiting for Quillbox...");
    EXPECT_EQ (instructionsOf ("Idle, bootloader detected"), "To start updating click the Install button...");
    EXPECT_EQ (instructionsOf ("Update cancelled"), "Update has been cancelled.");
    EXPECT_EQ (instructionsOf ("Error, no device"),
               "The Quillbox was not attached on time. Please reconnect it and try again.");
    EXPECT_EQ (instructionsOf ("Error, device detected"),
               "Something went wrong while performing the update. Please try again.");
    EXPECT_EQ (instructionsOf ("Error, bootloader detected"),
               "Something went wrong while performing the update. Please try again.");
}

TEST (InbuiltDefinitions, sends_the_Quillbox_firmware_in_256_byte_packets_with_its_transitions)
{
    const auto updater = loadInbuilt ("Quillbox");
    const auto& download = stateOf (*updater, "Firmware download");
    const auto* send = firstSendSysEx (download);

    EXPECT_EQ (download.getAttribute ("pollingMode"), "MIDI ports");
    ASSERT_NE (send, nullptr);
    EXPECT_EQ (send->messageKind, "quillbox-fw-$(version)");
    EXPECT_EQ (send->messageKind.replace ("$(version)", "2.2.1") + ".syx", "quillbox-fw-2.2.1.syx");
    EXPECT_EQ (send->endPollingMode, "MIDI Device inquiry");
    EXPECT_EQ (send->packetSize, 256);
    EXPECT_FLOAT_EQ (send->waitTime, 0.082f);

    const FirmwareUpdater::PollingStateList afterTransfer{ { NoDevice, "Waiting for new firmware" },
                                                           { DeviceDetected, "Download complete" },
                                                           { BootloaderDetected, "Error, bootloader detected" } };
    EXPECT_EQ (send->pollingStates, afterTransfer);

    const FirmwareUpdater::PollingStateList own{ { NoDevice, "Waiting for new firmware" } };
    EXPECT_EQ (download.pollingStates, own);
    EXPECT_TRUE (instructionAt<State::TextFieldInstruction> (download.instructions, 1)->visible);

    const auto* erase = firstSendSysEx (stateOf (*updater, "Firmware erase"));
    ASSERT_NE (erase, nullptr);
    EXPECT_EQ (erase->messageKind, "erase");
    EXPECT_EQ (erase->endPollingMode, "");
    EXPECT_EQ (erase->packetSize, 256);
    EXPECT_FLOAT_EQ (erase->waitTime, 0.5f);
    EXPECT_TRUE (erase->pollingStates.empty());
}

TEST (InbuiltDefinitions, compares_versions_when_a_Quillbox_download_is_complete)
{
    const auto updater = loadInbuilt ("Quillbox");
    const auto& complete = stateOf (*updater, "Download complete");

    ASSERT_EQ (complete.instructions.size(), 5u);
    EXPECT_EQ (textFieldText (complete.instructions, "InstructionsField"), "(none)");

    const auto* failed = instructionAt<State::CheckInstruction> (complete.instructions, 3);
    const auto* succeeded = instructionAt<State::CheckInstruction> (complete.instructions, 4);
    ASSERT_NE (failed, nullptr);
    ASSERT_NE (succeeded, nullptr);
    EXPECT_EQ (failed->name, "versionNumber");
    EXPECT_FALSE (failed->value);
    EXPECT_EQ (textFieldText (failed->instructions, "InstructionsField"), "Update has failed. Please try again.");
    EXPECT_TRUE (succeeded->value);
    EXPECT_EQ (textFieldText (succeeded->instructions, "InstructionsField"), "Update completed successfully.");

    const FirmwareUpdater::PollingStateList transitions{ { BootloaderDetected, "Firmware erase" } };
    EXPECT_EQ (complete.pollingStates, transitions);
}

TEST (InbuiltDefinitions, returns_a_cancelled_Quillbox_update_to_idle_after_five_seconds)
{
    const auto updater = loadInbuilt ("Quillbox");
    const auto& cancelled = stateOf (*updater, "Update cancelled");

    EXPECT_EQ (cancelled.getAttribute ("pollingMode"), "none");
    ASSERT_EQ (cancelled.instructions.size(), 5u);
    EXPECT_FLOAT_EQ (instructionAt<State::WaitInstruction> (cancelled.instructions, 3)->time, 5.0f);
    EXPECT_EQ (instructionAt<State::GotoStateInstruction> (cancelled.instructions, 4)->state, "Idle, no device");
    EXPECT_TRUE (cancelled.pollingStates.empty());

    const auto* cancel = instructionAt<State::ButtonInstruction> (stateOf (*updater, "Firmware erase").instructions, 2);
    ASSERT_NE (cancel, nullptr);
    EXPECT_EQ (cancel->state, "enabled");
    EXPECT_EQ (cancel->gotoState, "Idle, no device");
}

TEST (InbuiltDefinitions, places_the_Orb_26_transitions_where_the_document_puts_them)
{
    const auto updater = loadInbuilt ("Orb 26");

    const auto& waitingForErase = stateOf (*updater, "Waiting for erase");
    EXPECT_EQ (waitingForErase.getAttribute ("pollingMode"), "Scan all ports");
    EXPECT_EQ (waitingForErase.getAttribute ("timeoutState"), "Idle, no device");
    ASSERT_EQ (waitingForErase.instructions.size(), 1u);
    EXPECT_TRUE (
        textFieldText (waitingForErase.instructions, "InstructionsField").contains ("Preparing to install ..."));
    const FirmwareUpdater::PollingStateList eraseTransitions{ { DeviceDetected, "Idle, device detected" },
                                                              { BootloaderDetected, "DSP download" } };
    EXPECT_EQ (waitingForErase.pollingStates, eraseTransitions);

    const auto& dspDownload = stateOf (*updater, "DSP download");
    ASSERT_EQ (dspDownload.instructions.size(), 6u);
    const auto* send = instructionAt<State::SendSysExInstruction> (dspDownload.instructions, 3);
    ASSERT_NE (send, nullptr);
    EXPECT_EQ (send->messageKind, "orb26-fw2-$(version)");
    EXPECT_FLOAT_EQ (send->waitTime, 0.02f);
    EXPECT_EQ (send->pollingStates.size(), 3u);
    EXPECT_FLOAT_EQ (instructionAt<State::WaitInstruction> (dspDownload.instructions, 4)->time, 3.0f);
    EXPECT_EQ (instructionAt<State::GotoStateInstruction> (dspDownload.instructions, 5)->state,
               "Waiting for reattach, DSP");
    const FirmwareUpdater::PollingStateList dspTransitions{ { NoDevice, "Waiting for reattach, DSP" } };
    EXPECT_EQ (dspDownload.pollingStates, dspTransitions);
}

TEST (InbuiltDefinitions, runs_the_Orb_26_panel_phase_with_its_stored_values)
{
    const auto updater = loadInbuilt ("Orb 26");

    const auto* panelErase = firstSendSysEx (stateOf (*updater, "Panel erase"));
    ASSERT_NE (panelErase, nullptr);
    EXPECT_EQ (panelErase->messageKind, "orb26-fw3-$(version)");
    EXPECT_EQ (panelErase->endPollingMode, "");
    EXPECT_TRUE (panelErase->pollingStates.empty());
    EXPECT_EQ (stateOf (*updater, "Panel erase").getAttribute ("pollingMode"), "Panel state");

    const auto& panelDownload = stateOf (*updater, "Panel download");
    const auto* send = firstSendSysEx (panelDownload);
    ASSERT_NE (send, nullptr);
    EXPECT_EQ (send->messageKind, "orb26-fw4-$(version)");
    EXPECT_EQ (send->packetSize, 256);
    EXPECT_FLOAT_EQ (send->waitTime, 0.5f); // written as "0"
    const FirmwareUpdater::PollingStateList afterTransfer{ { DeviceDetected, "Download complete" },
                                                           { BootloaderDetected, "Error, bootloader detected" } };
    EXPECT_EQ (send->pollingStates, afterTransfer);

    const auto& check = stateOf (*updater, "Waiting for reattach, DSP check");
    ASSERT_EQ (check.instructions.size(), 2u);
    EXPECT_EQ (instructionAt<State::GotoStateInstruction> (
                   instructionAt<State::CheckInstruction> (check.instructions, 0)->instructions, 0)
                   ->state,
               "Error, device detected");
    EXPECT_EQ (instructionAt<State::GotoStateInstruction> (
                   instructionAt<State::CheckInstruction> (check.instructions, 1)->instructions, 0)
                   ->state,
               "Panel erase");

    EXPECT_EQ (stateOf (*updater, "Waiting for reattach, panel").getAttribute ("timeoutState"), "Error, no device");
    EXPECT_EQ (stateOf (*updater, "Idle, no device").getAttribute ("pollingMode"), "MIDI Device inquiry 2");
    EXPECT_EQ (stateOf (*updater, "Idle, no device").pollingStates.at (PanelModeDetected), "Idle, panel update mode");
}

TEST (InbuiltDefinitions, writes_the_Orb_26_texts_with_double_spaces_and_element_content)
{
    const auto updater = loadInbuilt ("Orb 26");
    const auto instructionsOf = [&updater] (const char* state)
    { return textFieldText (stateOf (*updater, state).instructions, "InstructionsField"); };

    EXPECT_EQ (instructionsOf ("Idle, panel update mode"),
               "The Orb 26 is partially updated.  To complete the installation, click the Install button.");
    EXPECT_EQ (instructionsOf ("Error, no device"),
               "The installation failed.  The Orb 26 cannot be detected.  Reconnect it to try again.");

    const auto lines = juce::StringArray::fromLines (instructionsOf ("Idle, no device").trim());
    ASSERT_EQ (lines.size(), 5);
    EXPECT_TRUE (lines[2].isEmpty());
    EXPECT_TRUE (lines[3].startsWith ("NOTE:"));
    EXPECT_TRUE (lines.joinIntoString (" ").contains ("may result in a failed update"));

    const auto steps = instructionsOf ("Idle, device detected");
    EXPECT_TRUE (steps.trim().startsWith ("To begin installing firmware on the Orb 26, follow these steps:"));
    EXPECT_EQ (steps, instructionsOf ("Idle, bootloader detected"));
    EXPECT_TRUE (instructionsOf ("Error, device detected")
                     .trim()
                     .startsWith ("The installation failed.  Try the installation again by following these steps:"));

    const auto preparing = juce::StringArray::fromLines (instructionsOf ("Waiting for erase").trim());
    ASSERT_GE (preparing.size(), 3);
    EXPECT_EQ (preparing[0], "Preparing to install ...");
    EXPECT_TRUE (preparing[1].isEmpty());
    EXPECT_TRUE (preparing[2].startsWith ("("));
    EXPECT_TRUE (preparing.joinIntoString (" ").contains ("twenty seconds"));
}
