#pragma once

#include "midi/MidiSystem.h"

#include <atomic>
#include <mutex>

namespace vfu
{
// The MidiLayer over a MidiSystem. Port names that repeat are made distinct ("Quillbox",
// "Quillbox (2)"), so that every lookup by name finds its own port. A port keeps the name it was
// given for as long as it is listed: when "Quillbox" leaves, its twin stays "Quillbox (2)" and the
// name "Quillbox" is simply absent; a port that appears takes the first name of its system name
// that no listed port uses. Each list handed out is kept with the identifiers behind its names, and
// a port opened by index is the one at that index in the last list handed out, not whatever sits
// there now.
//
// When the lists are empty because the MIDI system itself cannot be reached, one log line says so;
// listing goes on as before, so the ports appear as soon as the system does.
class SystemMidiLayer : public MidiLayer
{
public:
    SystemMidiLayer (MidiSystem& system, bool opensOnMessageThread);

    juce::StringArray getInputNames() override;
    juce::StringArray getOutputNames() override;
    PortList getInputPorts() override;
    PortList getOutputPorts() override;
    juce::StringArray getOtherProgramsConnectedTo (const juce::String& inputIdentifier,
                                                   const juce::String& outputIdentifier) override
    {
        return system.getOtherProgramsConnectedTo (inputIdentifier, outputIdentifier);
    }
    std::unique_ptr<MidiInputConnection> openInput (int index, MidiReceiver& receiver) override;
    std::unique_ptr<MidiOutputConnection> openOutput (int index) override;
    std::unique_ptr<MidiInputConnection> openInputOrSayWhy (int index, MidiReceiver& receiver,
                                                            OpenRefusal& refusal) override;
    std::unique_ptr<MidiOutputConnection> openOutputOrSayWhy (int index, OpenRefusal& refusal) override;
    bool opensOnMessageThread() const override { return onMessageThread; }
    bool addPortChangeEvent (juce::WaitableEvent& event) override { return system.addPortChangeEvent (event); }
    void removePortChangeEvent (juce::WaitableEvent& event) override { system.removePortChangeEvent (event); }

    // The names of a port list seen for the first time: repeated names get " (2)", " (3)"... in
    // list order, the first keeps its name.
    static juce::StringArray makeNamesDistinct (const juce::Array<juce::MidiDeviceInfo>& ports);

private:
    struct Listing
    {
        juce::StringArray names;       // distinct
        juce::StringArray identifiers; // same order
        juce::StringArray systemNames; // same order, as the system lists them
    };

    // Names for the ports now listed: those listed before keep theirs.
    static Listing nameAfter (const Listing& previous, const juce::Array<juce::MidiDeviceInfo>& ports);
    PortList list (const juce::Array<juce::MidiDeviceInfo>& ports, Listing& kept);
    void noteAvailability (bool listsEmpty);

    MidiSystem& system;
    const bool onMessageThread;

    std::mutex lock; // guards the two listings
    Listing inputs, outputs;

    std::atomic<bool> reportedUnavailable{ false };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SystemMidiLayer)
};
} // namespace vfu
