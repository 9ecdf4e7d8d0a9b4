#include "MidiTestSupport.h"
#include "midi/JuceMidiLayer.h"
#include "support/MessageLoop.h"

using namespace vfu;

namespace
{
struct CountingReceiver final : public MidiReceiver
{
    void handleIncomingMidi (const juce::String&, const juce::MidiMessage&) override { ++messages; }
    std::atomic<int> messages{ 0 };
};

// JUCE's devices open on the message thread; the ALSA sequencer and WinMM are reached directly.
#if JUCE_LINUX || JUCE_WINDOWS
constexpr bool opensOnMessageThread = false;
#else
constexpr bool opensOnMessageThread = true;
#endif
} // namespace

// This machine has no MIDI hardware; what can be checked is that the real layer lists what JUCE
// lists and refuses indices it does not have.
TEST (JuceMidiLayer, lists_the_systems_ports_and_refuses_indices_outside_them)
{
    JuceMidiLayer layer;
    EXPECT_EQ (layer.opensOnMessageThread(), opensOnMessageThread);

    const auto inputs = layer.getInputNames();
    const auto outputs = layer.getOutputNames();
    // The same ports in the same order as JUCE lists them (on Linux our own listing; under a real
    // sequencer, in the test guest, these lists are not empty).
    const auto identifiers = [] (const juce::Array<juce::MidiDeviceInfo>& devices)
    {
        juce::StringArray result;
        for (auto& device : devices)
            result.add (device.identifier);
        return result;
    };
    EXPECT_EQ (inputs.size(), juce::MidiInput::getAvailableDevices().size());
    EXPECT_EQ (outputs.size(), juce::MidiOutput::getAvailableDevices().size());
    EXPECT_EQ (layer.getInputPorts().identifiers, identifiers (juce::MidiInput::getAvailableDevices()));
    EXPECT_EQ (layer.getOutputPorts().identifiers, identifiers (juce::MidiOutput::getAvailableDevices()));

    CountingReceiver receiver;
    EXPECT_EQ (layer.openInput (-1, receiver), nullptr);
    EXPECT_EQ (layer.openInput (inputs.size(), receiver), nullptr);
    EXPECT_EQ (layer.openOutput (outputs.size()), nullptr);
}

TEST (JuceMidiLayer, a_poll_over_the_real_layer_ends_and_logs_a_missing_midi_system_once)
{
    JuceMidiLayer layer;
    ScaledClock clock (vfu::test::testClockSpeed);
    MIDIPortsSelector selector (layer, clock);
    LogCollector log;

    PollResult result = Aborted;
    vfu::test::WorkerThread worker ([&] { result = selector.pollDevice (0x0008, false); });
    worker.startThread();
    EXPECT_TRUE (vfu::test::runMessageLoopUntil ([&] { return worker.finished.load(); }, 60000));

    if (layer.getInputNames().isEmpty())
    {
        EXPECT_EQ (result, NoDevice);
        // Nothing but the one line that says the MIDI system cannot be reached, when that is why.
        juce::String problem;
        if (createNativeMidiSystem().system->isAvailable (problem))
            EXPECT_TRUE (log.getLines().isEmpty());
        else
            EXPECT_EQ (log.getLines(), juce::StringArray ("MIDI system not available (" + problem +
                                                          "); looking for it again once a second"));
    }
    EXPECT_EQ (selector.getInputPortName(), "Auto");
}

TEST (JuceMidiLayer, the_program_wide_selector_starts_with_auto_choices)
{
    auto& selector = MIDIPortsSelector::getProgramWideInstance();
    EXPECT_EQ (&selector, &MIDIPortsSelector::getProgramWideInstance());
    EXPECT_EQ (selector.getMidiLayer().opensOnMessageThread(), opensOnMessageThread);
    EXPECT_EQ (&selector.getClock(), &Clock::getRealClock());
    EXPECT_EQ (selector.getInputPortName(), "Auto");
    EXPECT_EQ (selector.getOutputPortName(), "Auto");
    EXPECT_EQ (selector.getFirmwareVersion(), "Unknown");
    EXPECT_EQ (selector.getDeviceID(), 0xFFFF);
    EXPECT_EQ (selector.getPanelState(), 0);
}
