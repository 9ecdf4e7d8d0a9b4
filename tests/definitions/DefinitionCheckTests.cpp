// The checks that reject a definition document, their messages and their order.

#include "DefinitionDocuments.h"

#include <gtest/gtest.h>

using namespace vfu::test;

namespace
{
const juce::String quit ("\nThe app will quit.");
const juce::String rootMessage ("<FirmwareUpdaters> must be the root element.\n\nThe app will quit.");
} // namespace

TEST (DefinitionChecks, accepts_the_minimal_document)
{
    EXPECT_EQ (rejectionOf (document (updaterElement())), "accepted");
}

TEST (DefinitionChecks, rejects_a_document_whose_root_is_not_FirmwareUpdaters)
{
    EXPECT_EQ (rejectionOf (updaterElement()), rootMessage);
    EXPECT_EQ (rejectionOf ("<firmwareUpdaters>" + updaterElement() + "</firmwareUpdaters>"), rootMessage);
}

TEST (DefinitionChecks, rejects_empty_and_non_XML_text_as_a_wrong_root)
{
    EXPECT_EQ (rejectionOf (""), rootMessage);
    EXPECT_EQ (rejectionOf ("   \r\n "), rootMessage);
    EXPECT_EQ (rejectionOf ("deviceName=Quillbox"), rootMessage);
    EXPECT_EQ (rejectionOf ("<FirmwareUpdaters><FirmwareUpdater deviceName=\"Quillbox\""), rootMessage);
    EXPECT_EQ (rejectionOf ("<FirmwareUpdaters>" + updaterElement()), rootMessage); // never closed
}

TEST (DefinitionChecks, rejects_an_updater_without_deviceName_even_after_the_matching_one)
{
    const auto expected = juce::String ("deviceName argument is missing or empty.\n") + quit;

    EXPECT_EQ (rejectionOf (document (updaterElement ({ { "deviceName", nullptr } }))), expected);
    EXPECT_EQ (rejectionOf (document (updaterElement() + updaterElement ({ { "deviceName", "" } }))), expected);
}

TEST (DefinitionChecks, skips_updaters_for_other_devices_and_modes_without_checking_them)
{
    const auto broken =
        updaterElement ({ { "deviceName", "Lumostrel" }, { "MIDIDeviceID", "zz" }, { "timeout", nullptr } },
                        "<State pollingMode=\"none\"/>");
    const auto otherMode = updaterElement ({ { "consoleMode", "true" }, { "initialState", "Nowhere" } });

    EXPECT_EQ (rejectionOf (document (broken + otherMode + updaterElement())), "accepted");
}

TEST (DefinitionChecks, collects_every_failed_attribute_check_in_order)
{
    const auto expected = juce::String ("communicationMode argument is missing or empty.\n"
                                        "MIDIDeviceID argument is missing or empty.\n"
                                        "fileNamePattern argument is missing or empty.\n"
                                        "initinalState argument is missing or empty.\n"
                                        "MIDIDeviceID must have a size of 4 hexadecimal numbers.\n"
                                        "timeout argument is missing or empty.\n"
                                        "timeoutState argument is missing or empty.\n") +
                          quit;

    EXPECT_EQ (rejectionOf (document (updaterElement ({ { "communicationMode", nullptr },
                                                        { "MIDIDeviceID", "" },
                                                        { "fileNamePattern", nullptr },
                                                        { "initialState", "" },
                                                        { "timeout", nullptr },
                                                        { "timeoutState", nullptr } }))),
               expected);
}

TEST (DefinitionChecks, reports_each_attribute_check_on_its_own)
{
    struct Case
    {
        AttributeOverride attribute;
        const char* line;
    };

    const Case cases[] = {
        { { "communicationMode", "" }, "communicationMode argument is missing or empty.\n" },
        { { "fileNamePattern", "" }, "fileNamePattern argument is missing or empty.\n" },
        { { "initialState", nullptr }, "initinalState argument is missing or empty.\n" },
        { { "MIDIDeviceID", "000b" }, "MIDIDeviceID must only contain hexadecimal numbers.\n" },
        { { "MIDIDeviceID", "00008" }, "MIDIDeviceID must have a size of 4 hexadecimal numbers.\n" },
        { { "MIDIDeviceID", "0x08" }, "MIDIDeviceID must only contain hexadecimal numbers.\n" },
        { { "timeout", "" }, "timeout argument is missing or empty.\n" },
        { { "timeout", "-1" }, "timeout argument is missing or empty.\n" },
        { { "timeout", "  -1 seconds" }, "timeout argument is missing or empty.\n" },
        { { "timeoutState", "" }, "timeoutState argument is missing or empty.\n" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (rejectionOf (document (updaterElement ({ c.attribute }))), juce::String (c.line) + quit)
            << c.attribute.first << " = " << (c.attribute.second != nullptr ? c.attribute.second : "(absent)");
}

TEST (DefinitionChecks, reports_an_empty_MIDIDeviceID_as_missing_and_of_the_wrong_size)
{
    EXPECT_EQ (rejectionOf (document (updaterElement ({ { "MIDIDeviceID", nullptr } }))),
               "MIDIDeviceID argument is missing or empty.\n"
               "MIDIDeviceID must have a size of 4 hexadecimal numbers.\n" +
                   quit);
}

TEST (DefinitionChecks, reports_a_MIDIDeviceID_of_wrong_size_and_digits_with_both_lines)
{
    EXPECT_EQ (rejectionOf (document (updaterElement ({ { "MIDIDeviceID", "abc" } }))),
               "MIDIDeviceID must have a size of 4 hexadecimal numbers.\n"
               "MIDIDeviceID must only contain hexadecimal numbers.\n" +
                   quit);
}

TEST (DefinitionChecks, rejects_a_second_updater_for_the_same_device_and_mode)
{
    EXPECT_EQ (rejectionOf (document (updaterElement() + updaterElement())),
               "Multiple <FirmwareUpdater> elements for 'Quillbox' with consoleMode = false.\n\nThe app will quit.");

    const auto consoleUpdater = updaterElement ({ { "consoleMode", "true" } });
    EXPECT_EQ (rejectionOf (document (consoleUpdater + consoleUpdater), "Quillbox", true),
               "Multiple <FirmwareUpdater> elements for 'Quillbox' with consoleMode = true.\n\nThe app will quit.");
}

TEST (DefinitionChecks, checks_the_attributes_of_a_second_updater_before_reporting_it_as_duplicate)
{
    EXPECT_EQ (rejectionOf (document (updaterElement() + updaterElement ({ { "fileNamePattern", "" } }))),
               "fileNamePattern argument is missing or empty.\n" + quit);
}

TEST (DefinitionChecks, accepts_two_updaters_for_the_same_device_that_differ_in_mode)
{
    const auto both = document (updaterElement() + updaterElement ({ { "consoleMode", "true" } }));

    EXPECT_EQ (rejectionOf (both, "Quillbox", false), "accepted");
    EXPECT_EQ (rejectionOf (both, "Quillbox", true), "accepted");
}

TEST (DefinitionChecks, rejects_a_state_without_a_name)
{
    const auto expected = juce::String ("Missing or empty State name.\n\nThe app will quit.");

    EXPECT_EQ (rejectionOf (documentWithStates (juce::String (minimalStates) + "<State pollingMode=\"none\"/>")),
               expected);
    EXPECT_EQ (
        rejectionOf (documentWithStates (juce::String (minimalStates) + "<State name=\"\" pollingMode=\"none\"/>")),
        expected);
}

TEST (DefinitionChecks, rejects_a_state_whose_pollingMode_is_absent_or_empty)
{
    EXPECT_EQ (rejectionOf (documentWithStates (juce::String (minimalStates) + "<State name=\"Lost\"/>")),
               "State 'Lost' : pollingMode attribute is missing.\n\nThe app will quit.");
    EXPECT_EQ (
        rejectionOf (documentWithStates (juce::String (minimalStates) + "<State name=\"Lost\" pollingMode=\"\"/>")),
        "State 'Lost' : pollingMode attribute is missing.\n\nThe app will quit.");
}

TEST (DefinitionChecks, rejects_a_duplicated_state_name_but_not_one_that_differs_in_case)
{
    EXPECT_EQ (
        rejectionOf (documentWithStates (juce::String (minimalStates) + "<State name=\"Busy\" pollingMode=\"x\"/>")),
        "State 'Busy' is duplicated.\n\nThe app will quit.");
    EXPECT_EQ (
        rejectionOf (documentWithStates (juce::String (minimalStates) + "<State name=\"busy\" pollingMode=\"x\"/>")),
        "accepted");
}

TEST (DefinitionChecks, checks_state_names_in_document_order)
{
    // The nameless state comes first, so its message wins over the later duplicate.
    EXPECT_EQ (
        rejectionOf (documentWithStates (juce::String (minimalStates) +
                                         "<State pollingMode=\"none\"/><State name=\"Idle\" pollingMode=\"x\"/>")),
        "Missing or empty State name.\n\nThe app will quit.");
}

TEST (DefinitionChecks, rejects_an_initialState_or_timeoutState_that_names_no_state)
{
    EXPECT_EQ (rejectionOf (document (updaterElement ({ { "initialState", "idle" } }))),
               "initialState 'idle' does not exist.\n\nThe app will quit.");
    EXPECT_EQ (rejectionOf (document (updaterElement ({ { "timeoutState", "Gone" } }))),
               "timeoutState 'Gone' does not exist.\n\nThe app will quit.");
    EXPECT_EQ (rejectionOf (document (updaterElement ({ { "initialState", "A" }, { "timeoutState", "B" } }))),
               "initialState 'A' does not exist.\n\nThe app will quit.");
}

TEST (DefinitionChecks, checks_every_state_name_before_the_initial_state)
{
    EXPECT_EQ (rejectionOf (document (updaterElement ({ { "initialState", "A" } }, "<State name=\"B\"/>"))),
               "State 'B' : pollingMode attribute is missing.\n\nThe app will quit.");
}

TEST (DefinitionChecks, rejects_a_PollingState_whose_target_does_not_exist)
{
    EXPECT_EQ (
        rejectionOf (documentWithStates (R"xml(<State name="Idle" pollingMode="MIDI Device inquiry">
                                                      <PollingState value="Device Detected" gotoState="Busy "/>
                                                   </State>
                                                   <State name="Busy" pollingMode="none"/>)xml")),
        "State 'Idle' gotoState 'Busy ' in PollingState 'Device Detected' does not exist.\n\nThe app will quit.");
}

TEST (DefinitionChecks, rejects_a_PollingState_without_a_target)
{
    EXPECT_EQ (rejectionOf (documentWithStates (
                   R"xml(<State name="Idle" pollingMode="x"><PollingState value="no device"/></State>)xml")),
               "State 'Idle' gotoState '' in PollingState 'no device' does not exist.\n\nThe app will quit.");
}

TEST (DefinitionChecks, rejects_a_PollingState_inside_a_Check_like_one_in_the_state)
{
    EXPECT_EQ (rejectionOf (documentWithStates (R"xml(<State name="Idle" pollingMode="x">
                                                      <Check name="nothing"><Check><PollingState value="v" gotoState="X"/></Check></Check>
                                                   </State>)xml")),
               "State 'Idle' gotoState 'X' in PollingState 'v' does not exist.\n\nThe app will quit.");
}

TEST (DefinitionChecks, rejects_a_SendSysEx_transition_to_a_missing_state_with_its_own_message)
{
    EXPECT_EQ (
        rejectionOf (documentWithStates (R"xml(<State name="Idle" pollingMode="x">
                                                      <SendSysEx messageKind="erase"><PollingState value="Bootloader detected" gotoState="Nowhere"/></SendSysEx>
                                                   </State>)xml")),
        "State 'Idle' gotoState 'Nowhere' in PollingState 'Bootloader detected'does not exist.\n\nThe app will quit.");
}

TEST (DefinitionChecks, checks_transitions_in_document_order_across_states)
{
    EXPECT_EQ (rejectionOf (documentWithStates (R"xml(<State name="Idle" pollingMode="x">
                                                      <SendSysEx><PollingState value="a" gotoState="First"/></SendSysEx>
                                                      <PollingState value="b" gotoState="Second"/>
                                                   </State>
                                                   <State name="Busy" pollingMode="x"><PollingState value="c" gotoState="Third"/></State>)xml")),
               "State 'Idle' gotoState 'First' in PollingState 'a'does not exist.\n\nThe app will quit.");
}

TEST (DefinitionChecks, accepts_transitions_to_states_that_come_later_in_the_document)
{
    EXPECT_EQ (rejectionOf (documentWithStates (
                   R"xml(<State name="Idle" pollingMode="x"><PollingState value="no device" gotoState="Busy"/></State>
                                                   <State name="Busy" pollingMode="none"/>)xml")),
               "accepted");
}

TEST (DefinitionChecks, does_not_validate_button_goto_and_state_timeout_targets)
{
    EXPECT_EQ (rejectionOf (documentWithStates (R"xml(<State name="Idle" pollingMode="x" timeoutState="Nowhere">
                                                      <Button name="InstallCancel" gotoState="Nowhere"/>
                                                      <GotoState state="Nowhere"/>
                                                   </State>)xml")),
               "accepted");
}

TEST (DefinitionChecks, rejects_a_document_without_the_requested_definition)
{
    const auto lumostrelOnly = document (updaterElement ({ { "deviceName", "Lumostrel" } }));

    EXPECT_EQ (rejectionOf (lumostrelOnly, "Quillbox", false),
               "No <FirmwareUpdater> element for 'Quillbox' with consoleMode = false.\n\nThe app will quit.");
    EXPECT_EQ (rejectionOf (document (updaterElement()), "Quillbox", true),
               "No <FirmwareUpdater> element for 'Quillbox' with consoleMode = true.\n\nThe app will quit.");
    EXPECT_EQ (rejectionOf (document (""), "Quillbox", false),
               "No <FirmwareUpdater> element for 'Quillbox' with consoleMode = false.\n\nThe app will quit.");
}

TEST (DefinitionChecks, matches_device_names_exactly)
{
    EXPECT_EQ (rejectionOf (document (updaterElement()), "quillbox"),
               "No <FirmwareUpdater> element for 'quillbox' with consoleMode = false.\n\nThe app will quit.");
}

TEST (DefinitionChecks, reads_consoleMode_true_only_when_written_exactly)
{
    const auto upperCase = document (updaterElement ({ { "consoleMode", "TRUE" } }));

    EXPECT_EQ (rejectionOf (upperCase, "Quillbox", false), "accepted");
    EXPECT_NE (rejectionOf (upperCase, "Quillbox", true), "accepted");
}

TEST (DefinitionChecks, matches_element_names_exactly)
{
    // A lower-case updater is not an updater, so nothing is loaded for Quillbox.
    EXPECT_EQ (rejectionOf (document (updaterElement().replace ("FirmwareUpdater", "firmwareupdater"))),
               "No <FirmwareUpdater> element for 'Quillbox' with consoleMode = false.\n\nThe app will quit.");

    // A lower-case state is not a state, so the initial state is missing.
    EXPECT_EQ (rejectionOf (documentWithStates ("<state name=\"Idle\" pollingMode=\"x\"/>")),
               "initialState 'Idle' does not exist.\n\nThe app will quit.");

    // A lower-case transition inside a SendSysEx is ignored, not checked.
    EXPECT_EQ (rejectionOf (documentWithStates ("<State name=\"Idle\" pollingMode=\"x\"><SendSysEx><pollingState "
                                                "gotoState=\"Nowhere\"/></SendSysEx></State>")),
               "accepted");
}

TEST (DefinitionChecks, ignores_root_children_that_are_not_updaters)
{
    EXPECT_EQ (rejectionOf (document ("<Comment deviceName=\"\"/>text between elements" + updaterElement())),
               "accepted");
}
