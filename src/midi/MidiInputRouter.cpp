#include "midi/MidiInputRouter.h"

// JUCE's own reassembly of MIDI bytes into messages (what its ALSA and serial inputs use). It is not
// part of a module's public header, so it is included here once, after the module it needs.
#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_audio_basics/midi/juce_MidiDataConcatenator.h>

#include <algorithm>

namespace vfu
{
struct MidiInputRouter::Source
{
    // Large enough for an identity reply; it grows for longer SysEx messages.
    juce::MidiDataConcatenator concatenator{ 2048 };
};

namespace
{
// Receives the concatenator's messages for one source and hands them to its started inputs.
template <typename Inputs> struct Dispatch
{
    Inputs& inputs;
    int source;

    void handleIncomingMidiMessage (void*, const juce::MidiMessage& message) const
    {
        for (auto& input : inputs)
            if (input.source == source && input.started)
                input.receiver->handleIncomingMidi (input.listedName, message);
    }

    // The updater reads SysEx messages whole.
    void handlePartialSysexMessage (void*, const juce::uint8*, int, double) const {}
};
} // namespace

MidiInputRouter::MidiInputRouter() = default;
MidiInputRouter::~MidiInputRouter() = default;

int MidiInputRouter::add (int source, MidiReceiver& receiver, const juce::String& listedName)
{
    std::lock_guard<std::mutex> guard (lock);
    const int number = nextNumber++;
    inputs.push_back ({ number, source, &receiver, listedName });
    if (sources.find (source) == sources.end())
        sources[source] = std::make_unique<Source>();
    return number;
}

void MidiInputRouter::setStarted (int number, bool started)
{
    std::lock_guard<std::mutex> guard (lock);
    for (auto& input : inputs)
        if (input.number == number)
            input.started = started;
}

void MidiInputRouter::remove (int number)
{
    std::lock_guard<std::mutex> guard (lock);
    int source = 0;
    bool found = false;
    for (auto i = inputs.begin(); i != inputs.end(); ++i)
    {
        if (i->number == number)
        {
            source = i->source;
            found = true;
            inputs.erase (i);
            break;
        }
    }

    // The last input of a source takes its half-assembled message with it: an input opened later
    // starts clean.
    if (found && std::none_of (inputs.begin(), inputs.end(), [source] (const Input& i) { return i.source == source; }))
        sources.erase (source);
}

void MidiInputRouter::deliver (int source, const juce::uint8* data, int size)
{
    if (data == nullptr || size <= 0)
        return;

    std::lock_guard<std::mutex> guard (lock);
    const auto found = sources.find (source);
    if (found == sources.end())
        return; // nobody listens to this source

    Dispatch<std::vector<Input>> dispatch{ inputs, source };
    found->second->concatenator.pushMidiData (data, size, juce::Time::getMillisecondCounterHiRes() * 0.001,
                                              (void*) nullptr, dispatch);
}
} // namespace vfu
