#pragma once

#include "midi/VirtualMidiLayer.h"

#include <memory>

namespace vfu::simulation
{
// Where a simulator creates the ports that other programs see: the computer's MIDI system
// (createSystemPortPublisher) or, in tests, a virtual layer that an updater uses.
class PortPublisher
{
public:
    // Bytes the host sent to the published ports, in pieces as they arrived (a firmware packet,
    // the part of a SysEx message that arrived so far, a whole short message).
    class Receiver
    {
    public:
        virtual ~Receiver() = default;
        virtual void bytesReceived (const juce::uint8* data, int size) = 0;
    };

    // An input and an output of one name, created together; destroying them makes both leave the
    // port lists.
    class Ports
    {
    public:
        virtual ~Ports() = default;
        virtual void send (const juce::MidiMessage& message) = 0;
    };

    virtual ~PortPublisher() = default;

    // Null, with the reason in `problem`, when the ports cannot be created.
    virtual std::unique_ptr<Ports> publish (const juce::String& name, Receiver& receiver, juce::String& problem) = 0;
};

// Turns JUCE's input callbacks back into the bytes as they arrived. JUCE hands a long SysEx message
// over as "partial" callbacks that each carry the whole message so far, then the complete message;
// only what is new each time is passed on. Called on one MIDI thread.
class IncomingMidiBytes final : public juce::MidiInputCallback
{
public:
    explicit IncomingMidiBytes (PortPublisher::Receiver& r) : receiver (r) {}

    void handlePartialSysexMessage (juce::MidiInput*, const juce::uint8* data, int numBytesSoFar, double) override;
    void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& message) override;

private:
    PortPublisher::Receiver& receiver;
    int forwarded = 0; // bytes of the SysEx message in progress already passed on
};

// Ports created with juce::MidiInput::createNewDevice and juce::MidiOutput::createNewDevice.
std::unique_ptr<PortPublisher> createSystemPortPublisher();

// Publishes onto a virtual layer as port pairs (under a name of the publisher's own, listed under
// the published name, so that two simulators may publish the same name as on a real system).
// The layer must outlive the publisher and every Ports it made.
class VirtualPortPublisher final : public PortPublisher
{
public:
    explicit VirtualPortPublisher (VirtualMidiLayer& hostLayer);
    ~VirtualPortPublisher() override;

    std::unique_ptr<Ports> publish (const juce::String& name, Receiver& receiver, juce::String& problem) override;

    // The layer's own name of the pair that a `publish` made (the published name is its listed name).
    juce::String getLastPairName() const;

private:
    class Forwarder;
    class VirtualPorts;

    VirtualMidiLayer& layer;
    mutable std::mutex lock;
    int pairsMade = 0;
    juce::String lastPairName;
    std::vector<Forwarder*> forwarders; // owned by the layer

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VirtualPortPublisher)
};
} // namespace vfu::simulation
