#pragma once

#include "midi/MidiSystem.h"

namespace vfu
{
// The operating system's MIDI ports through juce::MidiInput and juce::MidiOutput, opened by the
// identifiers JUCE lists; for the platforms without a system of our own. Devices must be opened on
// the message thread (MIDIPortsSelector takes care of that).
class JuceMidiSystem final : public MidiSystem
{
public:
    juce::Array<juce::MidiDeviceInfo> getInputs() override;
    juce::Array<juce::MidiDeviceInfo> getOutputs() override;
    std::unique_ptr<MidiInputConnection> openInput (const juce::String& identifier, const juce::String& listedName,
                                                    MidiReceiver& receiver) override;
    std::unique_ptr<MidiOutputConnection> openOutput (const juce::String& identifier,
                                                      const juce::String& listedName) override;

    // JUCE's devices are always there.
    bool isAvailable (juce::String& problem) override;
};
} // namespace vfu
