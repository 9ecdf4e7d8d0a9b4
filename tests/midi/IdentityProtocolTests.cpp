#include "MidiTestSupport.h"

using namespace vfu;
using vfu::test::bytes;

namespace
{
// A selector polling for one device ID, with replies arriving on the one input "Virtual input".
struct IdentityProtocol : public ::testing::Test
{
    IdentityProtocol() { layer.addPorts ("Virtual input"); }

    void receive (const juce::MidiMessage& message) { selector.handleIncomingMidi ("Virtual input", message); }

    void receiveIdentity (juce::uint16 id, std::initializer_list<int> memberAndRevision)
    {
        std::vector<int> raw{ 0xF0, 0x7E, 0x7F, 0x06, 0x02, 0x04, id >> 8, id & 0x7F };
        raw.insert (raw.end(), memberAndRevision.begin(), memberAndRevision.end());
        raw.push_back (0xF7);
        receive (toMessage (raw));
    }

    static juce::MidiMessage toMessage (const std::vector<int>& raw)
    {
        std::vector<juce::uint8> data (raw.begin(), raw.end());
        return juce::MidiMessage (data.data(), (int) data.size());
    }

    LogCollector log;
    VirtualMidiLayer layer{ Clock::getRealClock() };
    MIDIPortsSelector selector{ layer, Clock::getRealClock() };
};
} // namespace

TEST_F (IdentityProtocol, orb26_revision_bytes_follow_rule_B)
{
    selector.setDeviceID (0x000C);
    receiveIdentity (0x000C, { 0x00, 0x00, 0x00, 0x01, 0x02, 0x03 });
    EXPECT_EQ (selector.getFirmwareVersion(), "1.2.3");
    EXPECT_FALSE (selector.isBootloaderDetected());
    EXPECT_TRUE (selector.isDeviceDetected());
    EXPECT_TRUE (log.contains ("DeviceID 000C detected (firmware version : 1.2.3)"));

    receiveIdentity (0x000C, { 0x00, 0x00, 0x02, 0x01, 0x02, 0x03 });
    EXPECT_EQ (selector.getFirmwareVersion(), "1.2.3p2");

    receiveIdentity (0x000C, { 0x00, 0x00, 0x00, 0x00, 0x05, 0x3F });
    EXPECT_EQ (selector.getFirmwareVersion(), "1.0.5");

    // Rule A's shape means nothing to Orb 26.
    receiveIdentity (0x000C, { 0x00, 0x00, 0x00, 0x00, 0x3F, 0x07 });
    EXPECT_EQ (selector.getFirmwareVersion(), "0.63.7");
}

TEST_F (IdentityProtocol, lumostrel_reads_rule_A_and_three_bootloader_shapes)
{
    selector.setDeviceID (0x000B);
    receiveIdentity (0x000B, { 0x00, 0x00, 0x00, 0x00, 0x3F, 0x07 });
    EXPECT_EQ (selector.getFirmwareVersion(), "1.0.7");
    EXPECT_TRUE (log.contains ("DeviceID 000B detected (firmware version : 1.0.7, bootloader = false)"));

    receiveIdentity (0x000B, { 0x00, 0x01, 0x00, 0x00, 0x00, 0x00 });
    EXPECT_EQ (selector.getFirmwareVersion(), "");
    EXPECT_TRUE (selector.isBootloaderDetected());
    EXPECT_TRUE (log.contains ("DeviceID 000B detected (firmware version : , bootloader = true)"));

    receiveIdentity (0x000B, { 0x00, 0x00, 0x00, 0x01, 0x00, 0x05 });
    EXPECT_EQ (selector.getFirmwareVersion(), "1.0.5");
    receiveIdentity (0x000B, { 0x00, 0x00, 0x00, 0x00, 0x64, 0x00 });
    EXPECT_EQ (selector.getFirmwareVersion(), "");
    EXPECT_TRUE (selector.isBootloaderDetected());

    log.clear();
    receive (bytes ({ 0xF0, 0x7E, 0x7F, 0x06, 0x02, 0x04, 0x00, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 }));
    EXPECT_TRUE (selector.isBootloaderDetected());
    EXPECT_TRUE (vfu::test::linesStartingWith (log, "DeviceID ").isEmpty());
}

TEST_F (IdentityProtocol, quillbox_reads_a_fourteen_bit_number)
{
    selector.setDeviceID (0x0008);
    receiveIdentity (0x0008, { 0x00, 0x00, 0x7B, 0x00 });
    EXPECT_EQ (selector.getFirmwareVersion(), "1.2.3");
    EXPECT_TRUE (log.contains ("DeviceID 0008 detected (firmware version : 1.2.3)"));

    receiveIdentity (0x0008, { 0x00, 0x00, 0x0D, 0x08 });
    EXPECT_EQ (selector.getFirmwareVersion(), "10.3.7");

    // Member bytes that fit no row: detected, logged with the previous version.
    log.clear();
    receiveIdentity (0x0008, { 0x01, 0x00, 0x0D, 0x00 });
    EXPECT_EQ (selector.getFirmwareVersion(), "10.3.7");
    EXPECT_TRUE (log.contains ("DeviceID 0008 detected (firmware version : 10.3.7)"));
}

TEST_F (IdentityProtocol, bootloader_identity_reply_empties_the_version_without_a_DeviceID_line)
{
    selector.setDeviceID (0x000B);
    receive (bytes ({ 0xF0, 0x7E, 0x7F, 0x06, 0x02, 0x04, 0x00, 0x0F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7 }));

    EXPECT_TRUE (selector.isDeviceDetected());
    EXPECT_TRUE (selector.isBootloaderDetected());
    EXPECT_EQ (selector.getFirmwareVersion(), "");
    EXPECT_EQ (log.getLines(), juce::StringArray ({ "Select MIDI input 0 : [Virtual input]" }));
    EXPECT_EQ (selector.getInputPortName(), "Virtual input");
}

TEST_F (IdentityProtocol, an_unlisted_device_id_is_detected_without_version_or_log_line)
{
    selector.setDeviceID (0x0001);
    receiveIdentity (0x0001, { 0x00, 0x00, 0x00, 0x01, 0x02, 0x03 });
    EXPECT_TRUE (selector.isDeviceDetected());
    EXPECT_EQ (selector.getFirmwareVersion(), "Unknown");
    EXPECT_TRUE (vfu::test::linesStartingWith (log, "DeviceID ").isEmpty());
}

TEST_F (IdentityProtocol, panel_state_bytes_map_to_poll_results_and_unknown_bytes_change_nothing)
{
    const std::pair<int, int> table[] = {
        { 0, 5 }, { 1, 6 }, { 2, 7 }, { 3, 8 }, { 5, 9 }, { 4, 5 }, { 7, 5 }, { 6, 5 }
    };

    for (auto [byte, expected] : table)
    {
        receive (bytes ({ 0xF0, 0x04, 0x0C, 0x31, 0x01, byte, 0xF7 }));
        EXPECT_EQ (selector.getPanelState(), expected) << "byte " << byte;
    }

    selector.setDeviceID (0x000C);
    receive (bytes ({ 0xF0, 0x04, 0x0C, 0x16, 0x02, 0xF7 }));
    EXPECT_TRUE (selector.isAlternativeReplyReceived());
}

TEST_F (IdentityProtocol, non_sysex_foreign_and_misaddressed_messages_change_nothing)
{
    selector.setDeviceID (0x000C);
    receive (juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100));
    receive (bytes ({ 0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7 }));
    receive (bytes ({ 0xF0, 0x7E, 0x00, 0x06, 0x02, 0x04, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0xF7 }));
    receiveIdentity (0x000B, { 0x00, 0x00, 0x00, 0x01, 0x02, 0x03 }); // another device

    EXPECT_FALSE (selector.isDeviceDetected());
    EXPECT_FALSE (selector.isBootloaderDetected());
    EXPECT_FALSE (selector.isAlternativeReplyReceived());
    EXPECT_EQ (selector.getPanelState(), 0);
    EXPECT_EQ (selector.getFirmwareVersion(), "Unknown");
    EXPECT_EQ (selector.getInputPortName(), "Auto");
    EXPECT_TRUE (log.getLines().isEmpty());
}

TEST_F (IdentityProtocol, replies_shorter_than_what_a_rule_reads_never_match_and_longer_ones_do)
{
    selector.setDeviceID (0x000C);
    const std::vector<int> full{ 0xF0, 0x7E, 0x7F, 0x06, 0x02, 0x04, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03 };

    for (size_t cut = 1; cut < full.size(); ++cut)
    {
        std::vector<int> shortReply (full.begin(), full.begin() + (long) cut);
        shortReply.push_back (0xF7);
        receive (toMessage (shortReply));
    }
    receive (bytes ({ 0xF0, 0x04, 0x0C, 0x31, 0x01, 0xF7 }));
    receive (bytes ({ 0xF0, 0x04, 0x0C, 0xF7 }));
    receive (bytes ({ 0xF0 }));
    receive (bytes ({ 0xF0, 0xF7 }));

    EXPECT_FALSE (selector.isDeviceDetected());
    EXPECT_EQ (selector.getPanelState(), 0);
    EXPECT_FALSE (selector.isAlternativeReplyReceived());

    // Without F7, and with trailing bytes, the reply is still read.
    receive (toMessage (full));
    EXPECT_EQ (selector.getFirmwareVersion(), "1.2.3");
    auto longer = full;
    longer[11] = 4;
    longer.insert (longer.end(), { 0x11, 0x22, 0xF7 });
    receive (toMessage (longer));
    EXPECT_EQ (selector.getFirmwareVersion(), "4.2.3");

    // Quillbox reads only up to body byte 10.
    selector.setDeviceID (0x0008);
    receive (bytes ({ 0xF0, 0x7E, 0x7F, 0x06, 0x02, 0x04, 0x00, 0x08, 0x00, 0x00, 0x7B, 0xF7 }));
    EXPECT_EQ (selector.getFirmwareVersion(), "4.2.3");
    receive (bytes ({ 0xF0, 0x7E, 0x7F, 0x06, 0x02, 0x04, 0x00, 0x08, 0x00, 0x00, 0x7B, 0x00, 0xF7 }));
    EXPECT_EQ (selector.getFirmwareVersion(), "1.2.3");
}

TEST_F (IdentityProtocol, auto_selects_the_input_once_and_only_from_a_listed_port)
{
    layer.addPorts ("Second input");
    selector.setDeviceID (0x000C);

    selector.handleIncomingMidi ("Not a port",
                                 bytes ({ 0xF0, 0x7E, 0x7F, 0x06, 0x02, 0x04, 0x00, 0x0C, 0, 0, 0, 1, 0, 0, 0xF7 }));
    EXPECT_EQ (selector.getInputPortIndex(), -1);
    EXPECT_EQ (selector.getInputPortName(), "Auto");

    selector.handleIncomingMidi ("Second input",
                                 bytes ({ 0xF0, 0x7E, 0x7F, 0x06, 0x02, 0x04, 0x00, 0x0C, 0, 0, 0, 1, 0, 0, 0xF7 }));
    receiveIdentity (0x000C, { 0, 0, 0, 1, 0, 0 });

    EXPECT_EQ (selector.getInputPortIndex(), 1);
    EXPECT_EQ (selector.getInputPortName(), "Second input");
    EXPECT_EQ (vfu::test::linesStartingWith (log, "Select MIDI input"),
               juce::StringArray ({ "Select MIDI input 1 : [Second input]" }));
}

TEST_F (IdentityProtocol, requests_have_their_fixed_bytes)
{
    auto hex = [] (const juce::MidiMessage& m)
    { return juce::String::toHexString (m.getRawData(), m.getRawDataSize()); };

    EXPECT_EQ (hex (MIDIPortsSelector::getIdentityRequest()), "f0 7e 7f 06 01 f7");
    EXPECT_EQ (hex (MIDIPortsSelector::getAlternativeDeviceInquiry()), "f0 04 0c 16 01 f7");
    EXPECT_EQ (hex (MIDIPortsSelector::createPanelStateRequest (0x008B)),
               "f0 04 0b 31 00 00 00 00 00 00 00 00 00 00 00 00 f7");
    EXPECT_EQ (&MIDIPortsSelector::getIdentityRequest(), &MIDIPortsSelector::getIdentityRequest());
}

TEST_F (IdentityProtocol, juce_callback_forwards_the_source_name)
{
    // Without a real port, a null source arrives as an unnamed port: decoded, but not auto-selected.
    selector.setDeviceID (0x000C);
    selector.handleIncomingMidiMessage (
        nullptr, bytes ({ 0xF0, 0x7E, 0x7F, 0x06, 0x02, 0x04, 0x00, 0x0C, 0, 0, 0, 1, 2, 3, 0xF7 }));
    EXPECT_EQ (selector.getFirmwareVersion(), "1.2.3");
    EXPECT_EQ (selector.getInputPortName(), "Auto");
}
