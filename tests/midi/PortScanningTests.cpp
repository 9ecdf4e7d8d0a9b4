#include "MidiTestSupport.h"

using namespace vfu;
using namespace vfu::simulation;
using vfu::test::pollOnWorker;

namespace
{
struct PortScanning : public ::testing::Test
{
    ScaledClock clock { vfu::test::testClockSpeed };
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
                                    "Quillbox : send Device Inquiry Request...",
                                    "Select MIDI input 1 : [Quillbox]",
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
               juce::StringArray ({ "Scanning MIDI input [Quillbox]",
                                    "Quillbox : send Device Inquiry Request...",
                                    "DeviceID 0008 detected (firmware version : 2.1.0)" }));
    EXPECT_EQ (simulation.getLayer().getNumMessagesSentTo ("Silent port 1"), 0);
    EXPECT_EQ (simulation.getLayer().getNumMessagesSentTo ("Quillbox"), 1);
}
