// MIDI port names with quotes, brackets, non-ASCII characters, or nothing at all: listed, chosen,
// polled and heard from like any other port.
#include "core/Clock.h"
#include "midi/MIDIPortsSelector.h"
#include "midi/VirtualMidiLayer.h"
#include "simulation/SimulatedInstrument.h"

#include <gtest/gtest.h>

namespace
{
const juce::StringArray& oddNames()
{
    static const juce::StringArray names{ "\"Quoted\" port",
                                          "[Bracketed] (1) {x} <y>",
                                          juce::CharPointer_UTF8 ("Ünïcødé ポート 🎹"),
                                          "",
                                          "back\\slash / tab\there",
                                          "  spaces  " };
    return names;
}

struct OddPorts
{
    OddPorts()
    {
        for (auto& name : oddNames())
            layer.addPorts (name);
        instrument = &vfu::simulation::SimulatedInstrument::addTo (layer, {});
    }

    vfu::RealClock clock;
    vfu::VirtualMidiLayer layer{ clock };
    vfu::simulation::SimulatedInstrument* instrument = nullptr;
    MIDIPortsSelector selector{ layer, clock };
};
} // namespace

TEST (OddPortNames, are_listed_and_can_each_be_chosen_for_input_and_output)
{
    OddPorts ports;
    const auto inputs = ports.selector.getInputNames();
    for (auto& name : oddNames())
        EXPECT_TRUE (inputs.contains (name)) << name;

    for (auto& name : oddNames())
    {
        if (name.isEmpty())
            continue;
        EXPECT_TRUE (ports.selector.selectInputPort (name)) << name;
        EXPECT_EQ (ports.selector.getInputPortName(), name);
        EXPECT_TRUE (ports.selector.selectOutputPort (name)) << name;
        EXPECT_EQ (ports.selector.getOutputPortName(), name);
    }

    // An empty name, whatever the choice does with it, leaves a usable selector.
    ports.selector.selectInputPort ({});
    ports.selector.selectOutputPort ({});
    EXPECT_TRUE (ports.selector.resetInputPortToAuto());
    EXPECT_TRUE (ports.selector.resetOutputPortToAuto());
    EXPECT_EQ (ports.selector.getInputPortName(), "Auto");
}

TEST (OddPortNames, replies_from_oddly_named_sources_are_classified_without_harm)
{
    OddPorts ports;
    const auto reply = juce::MidiMessage::createSysExMessage (
        std::array<juce::uint8, 13>{ 0x7E, 0x7F, 0x06, 0x02, 0x04, 0x00, 0x08, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00 }
            .data(),
        13);

    for (auto& name : oddNames())
    {
        ports.selector.handleIncomingMidi (name, reply);
        ports.selector.handleIncomingMidi (name, juce::MidiMessage::noteOn (1, 60, (juce::uint8) 100));
    }
    EXPECT_TRUE (ports.selector.getFirmwareVersion().isNotEmpty());
}

TEST (OddPortNames, a_scan_past_silent_oddly_named_ports_still_finds_the_instrument)
{
    OddPorts ports;
    for (auto& name : oddNames())
        EXPECT_NE (ports.selector.sendDeviceInquiry (name, 100), PollResult::DeviceDetected) << name;

    EXPECT_EQ (ports.selector.pollDevice (ports.instrument->getDeviceId(), false), PollResult::DeviceDetected);
    // The inquiries for names that are no port reset the output choice; the poll then names the
    // instrument's own port.
    EXPECT_EQ (ports.selector.getOutputPortName(), "Quillbox");
}
