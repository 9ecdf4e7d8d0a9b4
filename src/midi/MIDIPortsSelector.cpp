// PLACEHOLDER so that the core library links while the port selector is being written; replaced whole.
#include "MIDIPortsSelector.h"
#include "../engine/Clock.h"

namespace
{
class NoMidiLayer final : public vfu::MidiLayer
{
public:
    juce::StringArray getInputNames() override { return {}; }
    juce::StringArray getOutputNames() override { return {}; }
    std::unique_ptr<vfu::MidiInputConnection> openInput (int, vfu::MidiReceiver&) override { return {}; }
    std::unique_ptr<vfu::MidiOutputConnection> openOutput (int) override { return {}; }
};
} // namespace

MIDIPortsSelector::MIDIPortsSelector (vfu::MidiLayer& l, vfu::Clock& c) : midiLayer (l), clock (c) {}
MIDIPortsSelector::~MIDIPortsSelector() = default;
MIDIPortsSelector& MIDIPortsSelector::getProgramWideInstance()
{
    static NoMidiLayer layer;
    static MIDIPortsSelector selector (layer, vfu::Clock::getRealClock());
    return selector;
}
void MIDIPortsSelector::handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage&) {}
void MIDIPortsSelector::handleIncomingMidi (const juce::String&, const juce::MidiMessage&) {}
juce::String MIDIPortsSelector::getFirmwareVersion() const { return "Unknown"; }
