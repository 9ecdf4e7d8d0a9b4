#include "MidiTestSupport.h"
#include "midi/SystemMidiLayer.h"

using namespace vfu;
using namespace vfu::simulation;
using vfu::test::pollOnWorker;

namespace
{
// Two Quillboxes whose ports the system lists under the same name, as two instruments of one model
// are listed on Linux; the layer that the app uses sits on top.
struct RepeatedPortNames : public ::testing::Test
{
    RepeatedPortNames()
    {
        first = &SimulatedInstrument::addTo (virtualPorts, settings ("Quillbox A", "2.1.0"));
        second = &SimulatedInstrument::addTo (virtualPorts, settings ("Quillbox B", "2.0.5"));
        virtualPorts.setListedName ("Quillbox A", "Quillbox");
        virtualPorts.setListedName ("Quillbox B", "Quillbox");
    }

    static InstrumentSettings settings (const juce::String& portName, const juce::String& version)
    {
        InstrumentSettings s;
        s.portName = portName;
        s.firmwareVersion = version;
        return s;
    }

    ScaledClock clock{ vfu::test::testClockSpeed };
    LogCollector log;
    VirtualMidiLayer virtualPorts{ clock };
    VirtualMidiSystem system{ virtualPorts };
    SystemMidiLayer layer{ system, false };
    MIDIPortsSelector selector{ layer, clock };
    SimulatedInstrument* first = nullptr;
    SimulatedInstrument* second = nullptr;
};
} // namespace

TEST (DistinctPortNames, repeated_names_are_numbered_from_the_second_and_stay_unique)
{
    auto ports = [] (std::initializer_list<const char*> names)
    {
        juce::Array<juce::MidiDeviceInfo> list;
        int id = 0;
        for (auto* name : names)
            list.add (juce::MidiDeviceInfo (name, juce::String (id++)));
        return list;
    };

    EXPECT_EQ (SystemMidiLayer::makeNamesDistinct (ports ({ "Quillbox", "Midi Through", "Quillbox" })),
               juce::StringArray ({ "Quillbox", "Midi Through", "Quillbox (2)" }));
    // A port really called like a numbered twin, and names that differ only in case.
    const auto names = SystemMidiLayer::makeNamesDistinct (ports ({ "A", "A (2)", "A", "a" }));
    EXPECT_EQ (names.size(), 4);
    juce::StringArray unique (names);
    unique.removeDuplicates (false);
    EXPECT_EQ (unique.size(), 4) << names.joinIntoString ("|");
    EXPECT_EQ (names[0], "A");
    EXPECT_EQ (names[3], "a");
}

TEST_F (RepeatedPortNames, both_instruments_are_listed_and_the_one_chosen_by_name_is_the_one_asked)
{
    EXPECT_EQ (layer.getInputNames(), juce::StringArray ({ "Quillbox", "Quillbox (2)" }));
    EXPECT_EQ (layer.getOutputNames(), juce::StringArray ({ "Quillbox", "Quillbox (2)" }));

    ASSERT_TRUE (selector.selectInputPort ("Quillbox (2)"));
    ASSERT_TRUE (selector.selectOutputPort ("Quillbox (2)"));
    EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x0008, false); }), DeviceDetected);

    EXPECT_EQ (selector.getFirmwareVersion(), "2.0.5");
    EXPECT_EQ (second->getIdentityRequests(), 1);
    EXPECT_EQ (first->getIdentityRequests(), 0);
    EXPECT_TRUE (log.contains ("Scanning MIDI input [Quillbox (2)]"));
    EXPECT_TRUE (log.contains ("Quillbox (2) : send Device Inquiry Request..."));
    EXPECT_EQ (selector.getInputPortIndex(), 1);
}

TEST_F (RepeatedPortNames, auto_scanning_reaches_the_second_instrument_when_the_first_is_silent)
{
    InstrumentFaults silent;
    silent.dropReplies = true;
    first->setFaults (silent);

    EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x0008, false); }), DeviceDetected);

    // Each inquiry went to its own instrument, and the reply selected the second's input.
    EXPECT_EQ (first->getIdentityRequests(), 1);
    EXPECT_EQ (second->getIdentityRequests(), 1);
    EXPECT_TRUE (log.contains ("Select MIDI input 1 : [Quillbox (2)]")) << log.getLines().joinIntoString ("\n");
    EXPECT_EQ (selector.getInputPortName(), "Quillbox (2)");
    EXPECT_EQ (selector.getOutputPortName(), "Quillbox (2)");
    EXPECT_EQ (selector.getFirmwareVersion(), "2.0.5");
}

TEST_F (RepeatedPortNames, a_port_opened_by_index_is_the_one_in_the_last_list_even_if_the_system_changed)
{
    ASSERT_EQ (layer.getOutputNames(), juce::StringArray ({ "Quillbox", "Quillbox (2)" }));

    // The first instrument leaves: the second now sits at index 0 of the system's list, but index 1
    // of the list the caller saw still means the second.
    virtualPorts.setPortsPresent ("Quillbox A", false);
    auto output = layer.openOutput (1);
    ASSERT_NE (output, nullptr);
    EXPECT_EQ (output->getName(), "Quillbox (2)");
    output->sendMessageNow (MIDIPortsSelector::getIdentityRequest());
    EXPECT_EQ (virtualPorts.getNumMessagesSentTo ("Quillbox B"), 1);

    // Index 0 was the first instrument, which is gone: nothing opens instead of the wrong port.
    EXPECT_EQ (layer.openOutput (0), nullptr);
}

TEST_F (RepeatedPortNames, without_a_midi_system_one_line_is_logged_and_polling_finds_the_ports_once_it_appears)
{
    system.setAvailable (false);

    for (int poll = 0; poll < 3; ++poll)
        EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x0008, false); }), NoDevice);

    EXPECT_EQ (
        log.getLines(),
        juce::StringArray ({ "MIDI system not available (the virtual MIDI system is switched off); looking for it "
                             "again once a second" }));

    system.setAvailable (true);
    EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x0008, false); }), DeviceDetected);
    EXPECT_TRUE (log.contains ("MIDI system available"));
    EXPECT_EQ (vfu::test::linesStartingWith (log, "MIDI system").size(), 2);
}

TEST_F (RepeatedPortNames, a_port_keeps_its_name_while_listed_and_the_choice_follows_the_port_not_the_name)
{
    ASSERT_TRUE (selector.selectInputPort ("Quillbox"));
    ASSERT_TRUE (selector.selectOutputPort ("Quillbox"));
    EXPECT_EQ (selector.checkSelectedPorts(), DeviceDetected);

    // The chosen first instrument restarts: its twin keeps "Quillbox (2)", and the port check
    // notices the chosen port gone.
    virtualPorts.setPortsPresent ("Quillbox A", false);
    EXPECT_EQ (layer.getOutputNames(), juce::StringArray ({ "Quillbox (2)" }));
    EXPECT_EQ (layer.getInputNames(), juce::StringArray ({ "Quillbox (2)" }));
    EXPECT_EQ (selector.checkSelectedPorts(), NoDevice);

    // Its twin is not asked in its place: polls find nothing while it is away.
    for (int poll = 0; poll < 2; ++poll)
        EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x0008, false); }), NoDevice);
    EXPECT_NE (selector.getFirmwareVersion(), "2.0.5");
    EXPECT_EQ (selector.getInputPortName(), "Quillbox");

    // The twin restarts too and comes back first: it takes the free name, but it is not the chosen port.
    virtualPorts.setPortsPresent ("Quillbox B", false);
    EXPECT_TRUE (layer.getOutputNames().isEmpty());
    EXPECT_TRUE (layer.getInputNames().isEmpty());
    virtualPorts.setPortsPresent ("Quillbox B", true);
    EXPECT_EQ (layer.getOutputNames(), juce::StringArray ({ "Quillbox" }));
    EXPECT_EQ (selector.checkSelectedPorts(), NoDevice);
    EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x0008, false); }), NoDevice);
    EXPECT_NE (selector.getFirmwareVersion(), "2.0.5");

    // The chosen instrument returns, under the first name still free, and answers again.
    virtualPorts.setPortsPresent ("Quillbox A", true);
    EXPECT_EQ (layer.getOutputNames(), juce::StringArray ({ "Quillbox (2)", "Quillbox" }));
    EXPECT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x0008, false); }), DeviceDetected);
    EXPECT_EQ (selector.getFirmwareVersion(), "2.1.0");
    EXPECT_EQ (selector.getInputPortName(), "Quillbox (2)");
    EXPECT_EQ (selector.checkSelectedPorts(), DeviceDetected);
}
