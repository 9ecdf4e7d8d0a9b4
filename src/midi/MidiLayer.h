#pragma once

#include <juce_audio_devices/juce_audio_devices.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

namespace vfu
{
// Receives every MIDI message from an opened input, with the name of the port it came from.
class MidiReceiver
{
public:
    virtual ~MidiReceiver() = default;
    virtual void handleIncomingMidi (const juce::String& sourceName, const juce::MidiMessage& message) = 0;
};

// An opened MIDI input. Messages reach the receiver only between start() and stop();
// destroying a connection stops it first.
class MidiInputConnection
{
public:
    virtual ~MidiInputConnection() = default;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual juce::String getName() const = 0;
};

// What became of a message handed to an output. A firmware transfer stops at the first message
// that was not sent: counting it would show a whole transfer with pieces missing.
enum class MidiSendResult
{
    sent,           // handed to the MIDI system whole
    refused,        // the system would not take it (full for too long, an error)
    destinationGone // the port it was sent to no longer exists
};

// An opened MIDI output; destroying it closes the port.
class MidiOutputConnection
{
public:
    virtual ~MidiOutputConnection() = default;
    virtual MidiSendResult sendMessageNow (const juce::MidiMessage& message) = 0;
    virtual juce::String getName() const = 0;
};

// Why a port did not open, where the system can tell. Some systems give a port to one program at a
// time (WinMM without the new Windows MIDI service): a port that another program holds is then
// refused, and the user can free it by closing that program.
struct OpenRefusal
{
    bool heldByAnotherProgram = false;
    juce::String port;   // the port's listed name
    juce::String result; // the system's own word for the refusal ("MMSYSERR_ALLOCATED"), for the log
};

// The events to signal when the port lists may have changed: a port appeared or left, or another
// program freed one. Signalled under the list's lock, so a removed event is never signalled after
// remove() returns.
class PortChangeNotices
{
public:
    void add (juce::WaitableEvent& event)
    {
        const std::lock_guard<std::mutex> guard (lock);
        events.push_back (&event);
    }

    void remove (juce::WaitableEvent& event)
    {
        const std::lock_guard<std::mutex> guard (lock);
        events.erase (std::remove (events.begin(), events.end(), &event), events.end());
    }

    void signalAll()
    {
        const std::lock_guard<std::mutex> guard (lock);
        for (auto* event : events)
            event->signal();
    }

private:
    std::mutex lock;
    std::vector<juce::WaitableEvent*> events;
};

// The operating system's MIDI services as the updater uses them: port lists in system order,
// and ports opened by their index in those lists. The shipped app uses JuceMidiLayer; tests,
// the command-line tool and the demonstration mode use VirtualMidiLayer.
class MidiLayer
{
public:
    virtual ~MidiLayer() = default;

    virtual juce::StringArray getInputNames() = 0;
    virtual juce::StringArray getOutputNames() = 0;

    // A port list with the identifier of each port, in the same order. An identifier stays with one
    // port for as long as the system lists it, whatever its name or place; where names are unique
    // for good (the virtual layer) they serve as identifiers.
    struct PortList
    {
        juce::StringArray names;
        juce::StringArray identifiers;
    };

    virtual PortList getInputPorts()
    {
        const auto names = getInputNames();
        return { names, names };
    }
    virtual PortList getOutputPorts()
    {
        const auto names = getOutputNames();
        return { names, names };
    }

    // The other programs connected to an instrument's ports, given by the identifiers of its input
    // and its output in the lists above (either may be empty), by name, each once: a program that
    // sends clock or notes to an instrument running its bootloader can upset an update. The
    // updater's own connections are left out; empty where the system cannot tell.
    virtual juce::StringArray getOtherProgramsConnectedTo (const juce::String& inputIdentifier,
                                                           const juce::String& outputIdentifier)
    {
        juce::ignoreUnused (inputIdentifier, outputIdentifier);
        return {};
    }

    // Null when the index is out of range or the port cannot be opened.
    virtual std::unique_ptr<MidiInputConnection> openInput (int index, MidiReceiver& receiver) = 0;
    virtual std::unique_ptr<MidiOutputConnection> openOutput (int index) = 0;

    // The same, saying in `refusal` why a port did not open (untouched where the layer cannot tell).
    virtual std::unique_ptr<MidiInputConnection> openInputOrSayWhy (int index, MidiReceiver& receiver,
                                                                    OpenRefusal& refusal)
    {
        juce::ignoreUnused (refusal);
        return openInput (index, receiver);
    }
    virtual std::unique_ptr<MidiOutputConnection> openOutputOrSayWhy (int index, OpenRefusal& refusal)
    {
        juce::ignoreUnused (refusal);
        return openOutput (index);
    }

    // True when ports must be opened on the message thread (the real layer).
    virtual bool opensOnMessageThread() const { return false; }

    // Signals `event` whenever the port lists may have changed, until it is removed. False where the
    // layer cannot tell of changes: whoever waits for a port then lists the ports now and then.
    virtual bool addPortChangeEvent (juce::WaitableEvent& event)
    {
        juce::ignoreUnused (event);
        return false;
    }
    virtual void removePortChangeEvent (juce::WaitableEvent& event) { juce::ignoreUnused (event); }
};
} // namespace vfu
