#pragma once

#include "midi/SystemMidiLayer.h"

#include <memory>

namespace vfu
{
// The operating system's MIDI ports through juce::MidiInput and juce::MidiOutput, opened by the
// identifiers JUCE lists. Devices must be opened on the message thread (MIDIPortsSelector takes
// care of that).
class JuceMidiSystem final : public MidiSystem
{
public:
    JuceMidiSystem();

    juce::Array<juce::MidiDeviceInfo> getInputs() override;
    juce::Array<juce::MidiDeviceInfo> getOutputs() override;
    std::unique_ptr<MidiInputConnection> openInput (const juce::String& identifier, const juce::String& listedName,
                                                    MidiReceiver& receiver) override;
    std::unique_ptr<MidiOutputConnection> openOutput (const juce::String& identifier,
                                                      const juce::String& listedName) override;

    // On Linux: whether the ALSA sequencer opens. Elsewhere the system is always there.
    bool isAvailable (juce::String& problem) override;
};

namespace detail
{
// Holds the system ahead of the layer that refers to it (bases are built in the order listed).
struct JuceMidiSystemHolder
{
    JuceMidiSystem juceSystem;
};
} // namespace detail

// The layer of the shipped app: the system's ports, with repeated names made distinct.
class JuceMidiLayer final : private detail::JuceMidiSystemHolder, public SystemMidiLayer
{
public:
    JuceMidiLayer() : SystemMidiLayer (juceSystem, true) {}

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (JuceMidiLayer)
};
} // namespace vfu
