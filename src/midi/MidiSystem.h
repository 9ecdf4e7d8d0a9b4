#pragma once

#include "midi/MidiLayer.h"

namespace vfu
{
// The MIDI ports exactly as a MIDI system reports them: names may repeat (two instruments of one
// model), identifiers do not. SystemMidiLayer turns this into the lists the updater shows.
class MidiSystem
{
public:
    virtual ~MidiSystem() = default;

    virtual juce::Array<juce::MidiDeviceInfo> getInputs() = 0;
    virtual juce::Array<juce::MidiDeviceInfo> getOutputs() = 0;

    // Opens the port with that identifier; the connection reports `listedName` as its name and as
    // the source of every message. Null when the port is gone or does not open.
    virtual std::unique_ptr<MidiInputConnection> openInput (const juce::String& identifier,
                                                            const juce::String& listedName, MidiReceiver& receiver) = 0;
    virtual std::unique_ptr<MidiOutputConnection> openOutput (const juce::String& identifier,
                                                              const juce::String& listedName) = 0;

    // The same, saying in `refusal` why a port did not open (untouched where the system cannot tell).
    virtual std::unique_ptr<MidiInputConnection> openInputOrSayWhy (const juce::String& identifier,
                                                                    const juce::String& listedName,
                                                                    MidiReceiver& receiver, OpenRefusal& refusal)
    {
        juce::ignoreUnused (refusal);
        return openInput (identifier, listedName, receiver);
    }
    virtual std::unique_ptr<MidiOutputConnection>
    openOutputOrSayWhy (const juce::String& identifier, const juce::String& listedName, OpenRefusal& refusal)
    {
        juce::ignoreUnused (refusal);
        return openOutput (identifier, listedName);
    }

    // The other programs connected to those ports, as MidiLayer::getOtherProgramsConnectedTo.
    virtual juce::StringArray getOtherProgramsConnectedTo (const juce::String& inputIdentifier,
                                                           const juce::String& outputIdentifier)
    {
        juce::ignoreUnused (inputIdentifier, outputIdentifier);
        return {};
    }

    // Port-list change notices, as MidiLayer::addPortChangeEvent.
    virtual bool addPortChangeEvent (juce::WaitableEvent& event)
    {
        juce::ignoreUnused (event);
        return false;
    }
    virtual void removePortChangeEvent (juce::WaitableEvent& event) { juce::ignoreUnused (event); }

    // Whether the system's MIDI service can be reached at all; when not, `problem` says why.
    virtual bool isAvailable (juce::String& problem) = 0;
};
} // namespace vfu
