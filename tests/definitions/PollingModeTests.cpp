// Polling mode texts: read in any case, written back as the documents hold them.
#include "definitions/PollingMode.h"

#include <gtest/gtest.h>

using vfu::definitions::getPollingModeText;
using vfu::definitions::parsePollingMode;

TEST (PollingModes, every_named_mode_is_read_in_any_case_and_written_back_as_documents_hold_it)
{
    const std::pair<const char*, PollingMode> modes[] = { { "MIDI Device inquiry", PollingMode::midiDeviceInquiry },
                                                          { "MIDI Device inquiry 2", PollingMode::midiDeviceInquiry2 },
                                                          { "MIDI ports", PollingMode::midiPorts },
                                                          { "Panel state", PollingMode::panelState },
                                                          { "Scan all ports", PollingMode::scanAllPorts },
                                                          { "none", PollingMode::none } };

    for (const auto& [text, mode] : modes)
    {
        const juce::String written (text);
        EXPECT_EQ (parsePollingMode (written), mode) << text;
        EXPECT_EQ (parsePollingMode (written.toUpperCase()), mode) << text;
        EXPECT_EQ (parsePollingMode (written.toLowerCase()), mode) << text;
        EXPECT_EQ (getPollingModeText (mode), written);
    }
}

TEST (PollingModes, other_texts_are_unknown_and_no_text_is_absent)
{
    for (const auto* text : { "x", "MIDI Device inquiry 3", " MIDI ports", "MIDI ports ", "MIDI  ports", "midi_ports" })
        EXPECT_EQ (parsePollingMode (text), PollingMode::unknown) << text;

    EXPECT_EQ (parsePollingMode ({}), PollingMode::absent);
    EXPECT_TRUE (getPollingModeText (PollingMode::unknown).isEmpty());
    EXPECT_TRUE (getPollingModeText (PollingMode::absent).isEmpty());
}
