#pragma once

#include "midi/MidiLayer.h"

namespace vfu
{
// The operating system's MIDI ports through juce::MidiInput and juce::MidiOutput. Devices must be
// opened on the message thread (MIDIPortsSelector takes care of that).
class JuceMidiLayer final : public MidiLayer
{
public:
    JuceMidiLayer() = default;

    juce::StringArray getInputNames() override;
    juce::StringArray getOutputNames() override;

    // A receiver that is itself a juce::MidiInputCallback (the port selector) becomes the input's
    // callback directly; any other receiver is reached through an adapter that passes the
    // source's name.
    std::unique_ptr<MidiInputConnection> openInput (int index, MidiReceiver& receiver) override;
    std::unique_ptr<MidiOutputConnection> openOutput (int index) override;

    bool opensOnMessageThread() const override { return true; }

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (JuceMidiLayer)
};
} // namespace vfu
