#include "MidiTestSupport.h"

using namespace vfu;
using namespace vfu::simulation;
using vfu::test::pollOnWorker;

namespace
{
struct PortScanning : public ::testing::Test
{
    ScaledClock clock{ vfu::test::testClockSpeed };
    LogCollector log;
};

InstrumentSettings settingsFor (Model model, const juce::String& version = {})
{
    InstrumentSettings settings;
    settings.model = model;
    settings.firmwareVersion = version;
    return settings;
}
} // namespace

TEST_F (PortScanning, auto_scan_asks_each_output_until_the_instrument_on_the_second_of_three_answers)
{
    Simulation simulation (settingsFor (Model::quillbox), 1, clock);
    simulation.getLayer().addPorts ("Silent port 2");
    MIDIPortsSelector selector (simulation.getLayer(), clock);

    EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x0008, false); }), DeviceDetected);

    EXPECT_EQ (vfu::test::linesStartingWith (log, ""),
               juce::StringArray ({ "Silent port 1 : send Device Inquiry Request...",
                                    "Quillbox : send Device Inquiry Request...", "Select MIDI input 1 : [Quillbox]",
                                    "DeviceID 0008 detected (firmware version : 2.1.0)" }));
    EXPECT_EQ (simulation.getLayer().getNumMessagesSentTo ("Silent port 2"), 0);
    EXPECT_EQ (selector.getInputPortName(), "Quillbox");
    EXPECT_EQ (selector.getOutputPortName(), "Quillbox");
    EXPECT_EQ (selector.getInputPortIndex(), 1);
    EXPECT_EQ (selector.getOutputPortIndex(), 1);
    EXPECT_EQ (selector.getFirmwareVersion(), "2.1.0");

    log.clear();
    simulation.getLayer().clearSentMessages();
    EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x0008, false); }), DeviceDetected);
    EXPECT_EQ (log.getLines(),
               juce::StringArray ({ "Scanning MIDI input [Quillbox]", "Quillbox : send Device Inquiry Request...",
                                    "DeviceID 0008 detected (firmware version : 2.1.0)" }));
    EXPECT_EQ (simulation.getLayer().getNumMessagesSentTo ("Silent port 1"), 0);
    EXPECT_EQ (simulation.getLayer().getNumMessagesSentTo ("Quillbox"), 1);
}

TEST_F (PortScanning, an_unplugged_named_output_returns_to_auto_and_the_next_poll_tries_every_output)
{
    Simulation simulation (settingsFor (Model::quillbox), 1, clock);
    MIDIPortsSelector selector (simulation.getLayer(), clock);
    ASSERT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x0008, false); }), DeviceDetected);

    simulation.getLayer().setPortsPresent ("Quillbox", false);
    log.clear();
    EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x0008, false); }), NoDevice);
    EXPECT_EQ (log.getLines(),
               juce::StringArray ({ "Scanning MIDI input [Quillbox]", "Quillbox : send Device Inquiry Request..." }));
    EXPECT_EQ (selector.getOutputPortName(), "Auto");
    EXPECT_EQ (selector.getOutputPortIndex(), 1); // the index stays
    EXPECT_EQ (selector.getInputPortIndex(), 1);
    EXPECT_EQ (selector.getFirmwareVersion(), "Unknown");

    simulation.getLayer().setPortsPresent ("Quillbox", true);
    log.clear();
    EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x0008, false); }), DeviceDetected);
    EXPECT_EQ (vfu::test::linesStartingWith (log, ""),
               juce::StringArray ({ "Scanning MIDI input [Quillbox]", "Silent port 1 : send Device Inquiry Request...",
                                    "Quillbox : send Device Inquiry Request...",
                                    "DeviceID 0008 detected (firmware version : 2.1.0)" }));
    EXPECT_EQ (selector.getOutputPortName(), "Quillbox");
    EXPECT_EQ (simulation.getLayer().getNumOpenInputs(), 0);
    EXPECT_EQ (simulation.getLayer().getNumOpenOutputs(), 0);
}

TEST_F (PortScanning, orb26_bootloader_gets_five_alternative_inquiries_half_a_second_apart)
{
    auto settings = settingsFor (Model::orb26);
    settings.startInBootloader = true;
    Simulation simulation (settings, 0, clock);
    MIDIPortsSelector selector (simulation.getLayer(), clock);

    const auto start = clock.now();
    EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x000C, true); }), BootloaderDetected);
    const auto elapsed = clock.now() - start;

    EXPECT_EQ (simulation.getInstrument().getAlternativeInquiries(), 5);
    EXPECT_EQ (vfu::test::linesStartingWith (log, "Orb 26 : send Alternative").size(), 5);
    EXPECT_TRUE (log.contains ("DeviceID 000C detected (bootloader = true)"));
    EXPECT_TRUE (selector.isBootloaderDetected());
    EXPECT_GE (elapsed, 1000 + 5 * 500);
    EXPECT_EQ (simulation.getInstrument().getPanelStateRequests(), 0);
}

TEST_F (PortScanning, orb26_below_1_1_0p0_is_confirmed_without_a_panel_state_request)
{
    auto settings = settingsFor (Model::orb26, "1.0.9");
    settings.panelStateByte = 1;
    Simulation simulation (settings, 0, clock);
    MIDIPortsSelector selector (simulation.getLayer(), clock);

    EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x000C, true); }), DeviceDetected);
    EXPECT_EQ (simulation.getInstrument().getAlternativeInquiries(), 1);
    EXPECT_EQ (simulation.getInstrument().getPanelStateRequests(), 0);
    EXPECT_TRUE (log.contains ("DeviceID 000C detected (bootloader = false)"));
    EXPECT_FALSE (selector.isBootloaderDetected());
}

TEST_F (PortScanning, orb26_with_an_erased_or_sending_panel_reports_panel_mode_only_under_inquiry_2)
{
    for (auto [byte, expected] : { std::pair<int, PollResult>{ 1, PanelModeDetected },
                                   { 2, PanelModeDetected },
                                   { 0, DeviceDetected },
                                   { 3, DeviceDetected } })
    {
        auto settings = settingsFor (Model::orb26, "1.1.0p1");
        settings.panelStateByte = byte;
        Simulation simulation (settings, 0, clock);
        MIDIPortsSelector selector (simulation.getLayer(), clock);
        log.clear();

        EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x000C, true); }), expected) << "byte " << byte;
        EXPECT_EQ (simulation.getInstrument().getPanelStateRequests(), 1);
        EXPECT_EQ (log.contains ("DeviceID 000C detected (panel mode detected)"), expected == PanelModeDetected);

        EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x000C, false); }), DeviceDetected);
        EXPECT_EQ (simulation.getInstrument().getPanelStateRequests(), 1);
    }
}

TEST_F (PortScanning, panel_state_query_returns_the_last_reported_state)
{
    auto settings = settingsFor (Model::orb26, "1.1.0");
    settings.panelStateByte = 1;
    Simulation simulation (settings, 0, clock);
    MIDIPortsSelector selector (simulation.getLayer(), clock);

    EXPECT_EQ (pollOnWorker ([&] { return selector.queryPanelState(); }), Aborted); // no port chosen, no reply yet
    ASSERT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x000C, true); }), PanelModeDetected);

    simulation.getInstrument().setPanelStateByte (3);
    EXPECT_EQ (pollOnWorker ([&] { return selector.queryPanelState(); }), PanelFirmwareSucceeded);

    // No reply: the last state stays.
    simulation.getInstrument().setFaults ({ true });
    EXPECT_EQ (pollOnWorker ([&] { return selector.queryPanelState(); }), PanelFirmwareSucceeded);
}

TEST_F (PortScanning, midi_ports_mode_checks_the_chosen_ports_without_traffic)
{
    Simulation simulation (settingsFor (Model::lumostrel), 1, clock);
    MIDIPortsSelector selector (simulation.getLayer(), clock);

    EXPECT_EQ (selector.checkSelectedPorts(), NoDevice);
    ASSERT_TRUE (selector.selectInputPort ("Lumostrel"));
    EXPECT_EQ (selector.checkSelectedPorts(), NoDevice); // output still Auto
    ASSERT_TRUE (selector.selectOutputPort ("Lumostrel"));
    EXPECT_EQ (selector.checkSelectedPorts(), DeviceDetected);
    EXPECT_EQ (simulation.getLayer().getNumMessagesSentTo ("Lumostrel"), 0);

    // The chosen ports are the ports themselves, wherever they are listed.
    simulation.getLayer().setPortsPresent ("Silent port 1", false);
    EXPECT_EQ (selector.checkSelectedPorts(), DeviceDetected);
    simulation.getLayer().setPortsPresent ("Lumostrel", false);
    EXPECT_EQ (selector.checkSelectedPorts(), NoDevice);
}

TEST_F (PortScanning, port_choices_take_listed_names_exactly_or_Auto)
{
    Simulation simulation (settingsFor (Model::quillbox), 2, clock);
    MIDIPortsSelector selector (simulation.getLayer(), clock);

    EXPECT_FALSE (selector.selectInputPort ("quillbox"));
    EXPECT_EQ (selector.getInputPortName(), "Auto");
    EXPECT_TRUE (selector.selectInputPort ("Silent port 2"));
    EXPECT_EQ (selector.getInputPortIndex(), 1);
    EXPECT_FALSE (selector.selectInputPort ("Gone"));
    EXPECT_EQ (selector.getInputPortName(), "Silent port 2");
    EXPECT_TRUE (selector.selectInputPort ("Auto"));
    EXPECT_EQ (selector.getInputPortIndex(), -1);

    EXPECT_TRUE (selector.selectOutputPort ("Quillbox"));
    EXPECT_EQ (selector.getOutputPortIndex(), 2);
    EXPECT_TRUE (selector.resetOutputPortToAuto());
    EXPECT_EQ (selector.getOutputPortName(), "Auto");
    EXPECT_EQ (selector.getOutputPortIndex(), -1);
}

TEST_F (PortScanning, without_inputs_nothing_is_sent)
{
    VirtualMidiLayer layer (clock);
    MIDIPortsSelector selector (layer, clock);
    EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x0008, false); }), NoDevice);
    EXPECT_TRUE (log.getLines().isEmpty());
}

TEST_F (PortScanning, a_named_output_gets_the_one_inquiry)
{
    Simulation simulation (settingsFor (Model::quillbox), 2, clock);
    MIDIPortsSelector selector (simulation.getLayer(), clock);
    selector.selectOutputPort ("Quillbox");

    EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x0008, false); }), DeviceDetected);
    EXPECT_EQ (simulation.getLayer().getNumMessagesSentTo ("Silent port 1"), 0);
    EXPECT_EQ (selector.getInputPortName(), "Quillbox");

    selector.selectOutputPort ("Silent port 1");
    EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x0008, false); }), NoDevice);
    EXPECT_EQ (selector.getFirmwareVersion(), "Unknown");
}

TEST_F (PortScanning, faulty_replies_find_no_device_and_unrelated_sysex_is_ignored)
{
    Simulation simulation (settingsFor (Model::lumostrel), 0, clock);
    auto& instrument = simulation.getInstrument();
    MIDIPortsSelector selector (simulation.getLayer(), clock);

    InstrumentFaults late;
    late.extraReplyDelayMs = 1500;
    InstrumentFaults garbled;
    garbled.garbleReplies = true;
    InstrumentFaults cut;
    cut.shortReplies = true;

    // The late reply last: it arrives after its poll has closed the inputs.
    for (auto& faults : { InstrumentFaults{ true }, garbled, cut, late })
    {
        instrument.setFaults (faults);
        EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x000B, false); }), NoDevice);
        EXPECT_EQ (selector.getFirmwareVersion(), "Unknown");
        EXPECT_EQ (selector.getInputPortName(), "Auto");
    }

    clock.sleep (1000);
    InstrumentFaults noisy;
    noisy.unrelatedSysExFirst = true;
    instrument.setFaults (noisy);
    EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x000B, false); }), DeviceDetected);
    EXPECT_EQ (selector.getFirmwareVersion(), "1.0.9");
}

TEST_F (PortScanning, lumostrel_bootloader_shapes_all_poll_as_bootloader)
{
    for (auto shape : { BootloaderShape::identityReply, BootloaderShape::memberBytes, BootloaderShape::revisionBytes })
    {
        auto settings = settingsFor (Model::lumostrel);
        settings.startInBootloader = true;
        settings.bootloaderShape = shape;
        Simulation simulation (settings, 0, clock);
        MIDIPortsSelector selector (simulation.getLayer(), clock);

        EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x000B, false); }), BootloaderDetected);
        EXPECT_EQ (selector.getFirmwareVersion(), "");
    }
}
