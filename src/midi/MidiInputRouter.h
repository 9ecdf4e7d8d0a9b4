#pragma once

#include "midi/MidiLayer.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace vfu
{
// Hands the MIDI bytes that one connection to the MIDI system receives from many sources to the
// inputs opened on those sources. Bytes arrive in whatever pieces the system delivers (a SysEx
// message may come in several); each source has its own reassembly, so pieces of two instruments
// never mix. A message reaches every input opened on its source, under the name that input was
// listed with, and only while that input is started.
//
// Delivery and every change of the inputs share one lock: once remove() returns, that input's
// receiver is never called again. A receiver must not add or remove inputs from its callback.
class MidiInputRouter
{
public:
    MidiInputRouter();
    ~MidiInputRouter();

    // Returns the input's number, for the calls below.
    int add (int source, MidiReceiver& receiver, const juce::String& listedName);
    void setStarted (int input, bool started);
    void remove (int input);

    // Bytes received from a source, in order.
    void deliver (int source, const juce::uint8* data, int size);

private:
    struct Input
    {
        int number;
        int source;
        MidiReceiver* receiver;
        juce::String listedName;
        bool started = false;
    };
    struct Source;

    std::mutex lock;
    std::vector<Input> inputs;
    std::map<int, std::unique_ptr<Source>> sources; // those with an input
    int nextNumber = 1;

    JUCE_DECLARE_NON_COPYABLE (MidiInputRouter)
};
} // namespace vfu
