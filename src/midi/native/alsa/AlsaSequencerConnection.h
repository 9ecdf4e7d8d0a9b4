#pragma once

#include "midi/MidiInputRouter.h"

#if JUCE_LINUX
#include <alsa/asoundlib.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace vfu::alsa
{
// A sequencer port as JUCE lists it: "client-port".
struct PortAddress
{
    int client = -1, port = -1;

    // False unless the identifier is two small numbers joined by "-".
    static bool parse (const juce::String& identifier, PortAddress& address);
    int key() const noexcept { return client * 256 + port; }
};

// Stops ALSA printing a line each time the sequencer fails to open (the layer logs that state once);
// everything else ALSA reports is printed as its default handler would.
void silenceSequencerOpenErrors();

// The updater's one client of the ALSA sequencer, for the whole process: opened on first use and
// kept. Port lists, identity polls and the transfer all go through it, so other MIDI programs see
// one client come and stay instead of one per listing and per opened port.
//
// Why not JUCE: JUCE 7.0.5's ALSA client is private to juce_linux_Midi.cpp and lives only while a
// device is open (each listing and each poll created and destroyed one, with its input thread), its
// outputs cannot send a SysEx message in pieces, and it cannot say who else is connected to a port.
//
// Inputs are subscriptions of an instrument's port to the one input port of this client; one receive
// thread reads every event, and the router hands each to the inputs opened on its source. Outputs
// send through the one output port, each event addressed to its one destination (so a twin
// instrument connected at the same time never receives it). Neither port is subscribable by others,
// so neither shows in port lists. The list of ports is kept until the sequencer announces a change
// (or a second has passed).
class SequencerConnection
{
public:
    using Opener = std::function<int (snd_seq_t**)>;
    using MillisecondClock = std::function<juce::uint32()>;

    // The process's connection; every caller shares it.
    static std::shared_ptr<SequencerConnection> getShared();

    // For tests: how the sequencer is opened and the clock that spaces failed attempts.
    SequencerConnection (Opener open, MillisecondClock now);
    ~SequencerConnection();

    // Opens the sequencer unless it is open; a failed open is tried again at most once a second
    // (without a MIDI system the updater polls far more often). False with the reason otherwise.
    bool ensureOpen (juce::String& problem);

    // The ports other programs offer, as JUCE lists them: inputs are ports we can read from.
    juce::Array<juce::MidiDeviceInfo> listPorts (bool inputs);

    // An input: subscribes `source` to our input port (once for all inputs on it). -1 on failure.
    int openInput (PortAddress source, MidiReceiver& receiver, const juce::String& listedName);
    void setInputStarted (int input, bool started);
    // After it returns the receiver is not called again; the last input of a source unsubscribes.
    void closeInput (int input, PortAddress source);

    // An output: a subscription from our output port to `destination`, whose disappearance tells
    // that the port left (the kernel drops it with the port, also if a new port comes at the same
    // address). `generation` identifies the subscription made for this output.
    bool openOutput (PortAddress destination, juce::uint64& generation);
    bool isOutputConnected (PortAddress destination, juce::uint64 generation);
    void closeOutput (PortAddress destination);

    // Sends one event to `destination` alone; a receiver that is full is tried again for about half
    // a second unless the calling thread is asked to stop. 0 or a negative ALSA error.
    int send (snd_seq_event_t& event, PortAddress destination);

    // The names of the other clients subscribed to these ports, either direction, each once: neither
    // this connection's nor the ports' own.
    juce::StringArray otherProgramsConnectedTo (const juce::String& inputIdentifier,
                                                const juce::String& outputIdentifier);

    // Signals `event` whenever the sequencer announces that a port came or left (or the kernel dropped
    // events that may have held such an announcement), until it is removed. Receive thread.
    void addPortChangeEvent (juce::WaitableEvent& event) { changeNotices.add (event); }
    void removePortChangeEvent (juce::WaitableEvent& event) { changeNotices.remove (event); }

    // How many times the sequencer open was attempted (for tests of the spacing).
    int getOpenAttempts() const { return openAttempts.load(); }

private:
    struct Subscription
    {
        int users = 0;
        juce::uint64 generation = 0;
    };

    bool isSubscribed (int senderClient, int senderPort, int destClient, int destPort) const;
    void receive();
    void handle (const snd_seq_event_t& event, snd_midi_event_t& decoder);
    void notePortChange();

    const Opener open;
    const MillisecondClock now;

    std::mutex openLock; // guards the fields up to `listingStamp`
    snd_seq_t* seq = nullptr;
    int ownClient = -1, inputPort = -1, outputPort = -1;
    bool attempted = false;
    juce::uint32 lastAttempt = 0;
    juce::String lastProblem;
    bool announcementsFollowed = false;
    juce::Array<juce::MidiDeviceInfo> cachedInputs, cachedOutputs;
    juce::uint64 listingStamp = 0;
    bool listingValid = false;
    juce::uint32 listingTime = 0;

    std::atomic<snd_seq_t*> openSeq{ nullptr };
    std::atomic<juce::uint64> portChanges{ 0 }; // counted by the receive thread
    std::atomic<int> openAttempts{ 0 };
    PortChangeNotices changeNotices;

    std::mutex subscriptionLock; // guards the two maps
    std::map<int, Subscription> inputSubscriptions, outputSubscriptions;
    juce::uint64 nextGeneration = 1;

    std::mutex sendLock; // libasound's output path shares one buffer per client
    MidiInputRouter router;

    std::atomic<bool> stopReceiving{ false };
    std::thread receiver;

    JUCE_DECLARE_NON_COPYABLE (SequencerConnection)
};
} // namespace vfu::alsa
#endif
