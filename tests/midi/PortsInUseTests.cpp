// Which held ports count as the instrument's: all of a direction while it is Auto, only the chosen
// port once one is chosen (a DAW that holds a keyboard is no concern of the update).
#include "MidiTestSupport.h"
#include "midi/VirtualMidiLayer.h"

using namespace vfu;

TEST (PortsInUse, count_every_port_while_auto_and_only_the_chosen_port_afterwards)
{
    ScaledClock clock (vfu::test::testClockSpeed * 100);
    VirtualMidiLayer layer (clock);
    layer.addPorts ("Keyboard");
    layer.addPorts ("Quillbox");
    layer.setHeldByAnotherProgram ("Keyboard", "MMSYSERR_ALLOCATED", "MMSYSERR_ALLOCATED");
    MIDIPortsSelector selector (layer, clock);

    vfu::test::pollOnWorker ([&] { return selector.pollDevice (0x0008, false); });
    EXPECT_EQ (selector.getPortsInUse(), juce::StringArray ({ "input [Keyboard] (MMSYSERR_ALLOCATED)",
                                                              "output [Keyboard] (MMSYSERR_ALLOCATED)" }));

    ASSERT_TRUE (selector.selectInputPort ("Quillbox"));
    ASSERT_TRUE (selector.selectOutputPort ("Quillbox"));
    EXPECT_TRUE (selector.getPortsInUse().isEmpty());

    // A held port that leaves the lists no longer counts.
    ASSERT_TRUE (selector.resetInputPortToAuto());
    layer.setPortsPresent ("Keyboard", false);
    EXPECT_TRUE (selector.getPortsInUse().isEmpty());
}
