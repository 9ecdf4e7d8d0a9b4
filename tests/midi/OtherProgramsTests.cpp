// Which other programs are connected to the chosen instrument's ports, asked by the ports'
// identifiers, also through a recording layer (whose names alone would not tell twins apart).
#include "MidiTestSupport.h"
#include "midi/RecordingMidiLayer.h"
#include "midi/SystemMidiLayer.h"
#include "midi/VirtualMidiLayer.h"

using namespace vfu;

namespace
{
// Two instruments of one model, listed by the system under one name ("Twin" and "Twin (2)" in
// the lists the updater sees); their identifiers are the virtual ports' own names.
struct TwinPorts
{
    TwinPorts()
    {
        virtualPorts.addPorts ("Twin A");
        virtualPorts.addPorts ("Twin B");
        virtualPorts.setListedName ("Twin A", "Twin");
        virtualPorts.setListedName ("Twin B", "Twin");
    }

    ScaledClock clock{ 1.0 };
    VirtualMidiLayer virtualPorts{ clock };
    VirtualMidiSystem system{ virtualPorts };
    SystemMidiLayer layer{ system, false };
};
} // namespace

TEST (OtherPrograms, are_those_of_the_chosen_ports_each_once_on_one_line_and_none_while_Auto)
{
    TwinPorts twins;
    twins.virtualPorts.setOtherProgramsConnected ("Twin A", { "Other DAW" });
    twins.virtualPorts.setOtherProgramsConnected ("Twin B", { "Clock\nSource", "Clock\nSource", "Sequencer", " \t " });
    MIDIPortsSelector selector (twins.layer, twins.clock);

    EXPECT_TRUE (selector.getOtherProgramsConnectedToChosenPorts().isEmpty()); // Auto: no instrument yet

    ASSERT_TRUE (selector.selectInputPort ("Twin (2)"));
    ASSERT_TRUE (selector.selectOutputPort ("Twin (2)"));
    EXPECT_EQ (selector.getOtherProgramsConnectedToChosenPorts(), juce::StringArray ({ "Clock Source", "Sequencer" }));

    // Only the input chosen: its programs still count.
    ASSERT_TRUE (selector.resetOutputPortToAuto());
    EXPECT_EQ (selector.getOtherProgramsConnectedToChosenPorts(), juce::StringArray ({ "Clock Source", "Sequencer" }));

    // The chosen instrument gone: its twin's programs are not taken for its own.
    twins.virtualPorts.setPortsPresent ("Twin B", false);
    EXPECT_TRUE (selector.getOtherProgramsConnectedToChosenPorts().isEmpty());
}

TEST (RecordingMidiLayer, passes_on_the_port_identifiers_and_the_connected_programs_of_the_layer_it_records)
{
    TwinPorts twins;
    twins.virtualPorts.setOtherProgramsConnected ("Twin B", { "Sequencer" });
    RecordingMidiLayer recorder (twins.layer, twins.clock, std::make_unique<juce::MemoryOutputStream>(), "test",
                                 "Quillbox");

    const auto inputs = recorder.getInputPorts(), outputs = recorder.getOutputPorts();
    EXPECT_EQ (inputs.names, juce::StringArray ({ "Twin", "Twin (2)" }));
    EXPECT_EQ (inputs.identifiers, juce::StringArray ({ "Twin A", "Twin B" }));
    EXPECT_EQ (outputs.identifiers, juce::StringArray ({ "Twin A", "Twin B" }));

    // Another instrument of the model that takes the name of the chosen one after it left is not
    // the chosen instrument: the check knows by the identifiers that the recording passes on.
    MIDIPortsSelector selector (recorder, twins.clock);
    ASSERT_TRUE (selector.selectInputPort ("Twin"));
    ASSERT_TRUE (selector.selectOutputPort ("Twin"));
    ASSERT_EQ (selector.checkSelectedPorts(), DeviceDetected);
    twins.virtualPorts.setPortsPresent ("Twin A", false);
    twins.virtualPorts.addPorts ("Twin C");
    twins.virtualPorts.setListedName ("Twin C", "Twin");
    ASSERT_EQ (recorder.getInputPorts().names.joinIntoString ("|"), "Twin (2)|Twin");
    EXPECT_EQ (selector.checkSelectedPorts(), NoDevice);

    ASSERT_TRUE (selector.selectInputPort ("Twin (2)"));
    ASSERT_TRUE (selector.selectOutputPort ("Twin (2)"));
    EXPECT_EQ (selector.getOtherProgramsConnectedToChosenPorts(), juce::StringArray ({ "Sequencer" }));
}
