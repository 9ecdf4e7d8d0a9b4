#pragma once

#include "simulation/PortPublisher.h"
#include "simulation/SimulatedInstrument.h"

#include <atomic>
#include <functional>
#include <mutex>

namespace vfu::simulation
{
// Puts a simulated instrument (living on its own virtual layer) behind ports that a publisher
// creates, so that other programs can talk to it: what the host sends reaches the instrument as it
// arrives, and its replies go out on the published output. When the instrument restarts, its
// ports are closed and created anew once it is back, as a USB instrument leaves and rejoins the
// port lists.
class PublishedInstrument final : private PortPublisher::Receiver, private MidiReceiver, private juce::Thread
{
public:
    class Listener
    {
    public:
        virtual ~Listener() = default;
        // Every InstrumentEvent, under the instrument's lock: it must not call into the instrument,
        // apart from pressBootloaderCombination with a delay.
        virtual void instrumentEvent (const InstrumentEvent& event) = 0;
        // The ports were created (`open`) or closed; `problem` says why creating them failed.
        virtual void portsChanged (bool open, const juce::String& problem) = 0;
    };

    // The instrument takes this object as its event listener.
    PublishedInstrument (SimulatedInstrument& instrument, PortPublisher& publisher, Listener* listener);
    ~PublishedInstrument() override;

    // Creates the ports (if the instrument is on its lists) and starts following its restarts;
    // false, with the reason, when the ports cannot be created.
    bool start (juce::String& problem);

    // Closes the ports and stops following the instrument.
    void stop();

    bool isPublished() const;
    int getPublications() const { return publications; }

private:
    void bytesReceived (const juce::uint8* data, int size) override;
    void handleIncomingMidi (const juce::String& sourceName, const juce::MidiMessage& message) override;
    void run() override;

    bool reconcile (juce::String& problem);
    bool openPorts (juce::String& problem);
    void closePorts();
    void instrumentEvent (const InstrumentEvent& event);

    SimulatedInstrument& instrument;
    PortPublisher& publisher;
    const juce::String name;
    Listener* const listener;
    juce::String lastProblem; // worker only: a failure is reported once

    std::atomic<int> departures{ 0 }; // restarts begun
    int departuresAtPublication = -1; // worker only (or start, before the worker runs)
    std::atomic<int> publications{ 0 };
    juce::WaitableEvent wake;

    mutable std::mutex publishedLock; // guards published (held while sending on it)
    std::unique_ptr<PortPublisher::Ports> published;

    std::mutex hostLock; // guards toInstrument (held while passing bytes on)
    std::unique_ptr<MidiOutputConnection> toInstrument;
    std::unique_ptr<MidiInputConnection> fromInstrument; // worker only

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PublishedInstrument)
};
} // namespace vfu::simulation
