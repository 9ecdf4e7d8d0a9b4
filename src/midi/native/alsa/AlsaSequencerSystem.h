#pragma once

#include "midi/MidiSystem.h"

#include <memory>

namespace vfu
{
namespace alsa
{
class SequencerConnection;
}

// The MIDI system on Linux: ALSA sequencer ports, all reached through the process's one sequencer
// client (alsa::SequencerConnection, which says why it is not JUCE's). Lists and identifiers are
// those JUCE 7.0.5 gives ("client-port").
//
// Outputs send every SysEx piece exactly as given, as SysEx events of at most
// alsa::maximumSysExEventBytes (AlsaSequencerEvents.h); a write the receiver has no room for is
// tried again for about half a second rather than dropped, unless the sending thread is asked to
// stop. Each send says what became of the message: `refused` when the sequencer would not take it,
// `destinationGone` when the port left (also when a new port has since come at its address).
//
// On other systems it lists nothing and opens nothing.
class AlsaSequencerSystem final : public MidiSystem
{
public:
    AlsaSequencerSystem();
    ~AlsaSequencerSystem() override;

    juce::Array<juce::MidiDeviceInfo> getInputs() override;
    juce::Array<juce::MidiDeviceInfo> getOutputs() override;
    std::unique_ptr<MidiInputConnection> openInput (const juce::String& identifier, const juce::String& listedName,
                                                    MidiReceiver& receiver) override;
    std::unique_ptr<MidiOutputConnection> openOutput (const juce::String& identifier,
                                                      const juce::String& listedName) override;
    juce::StringArray getOtherProgramsConnectedTo (const juce::String& inputIdentifier,
                                                   const juce::String& outputIdentifier) override;

    // Whether the sequencer opens (tried at most once a second while it does not).
    bool isAvailable (juce::String& problem) override;

#if JUCE_LINUX
    // The sequencer's announcements of ports coming and going. While it does not open no port can
    // appear before the next attempt, at most once a second, so a waiter's recheck covers that.
    bool addPortChangeEvent (juce::WaitableEvent& event) override;
    void removePortChangeEvent (juce::WaitableEvent& event) override;
#endif

private:
    std::shared_ptr<alsa::SequencerConnection> connection;
};
} // namespace vfu
