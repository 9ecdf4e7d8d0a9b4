#include "simulation/PortPublisher.h"

#include "midi/NativeMidiSystem.h"

namespace vfu::simulation
{
namespace
{
class SystemPorts final : public PortPublisher::Ports
{
public:
    SystemPorts (std::unique_ptr<IncomingMidiBytes> c, std::unique_ptr<juce::MidiInput> in,
                 std::unique_ptr<juce::MidiOutput> out)
        : callback (std::move (c)), input (std::move (in)), output (std::move (out))
    {
        input->start();
    }

    ~SystemPorts() override
    {
        input->stop();
        input.reset(); // before the callback it calls
        output.reset();
    }

    void send (const juce::MidiMessage& message) override { output->sendMessageNow (message); }

private:
    std::unique_ptr<IncomingMidiBytes> callback;
    std::unique_ptr<juce::MidiInput> input;
    std::unique_ptr<juce::MidiOutput> output;
};

class SystemPortPublisher final : public PortPublisher
{
    NativeMidiSystem native = createNativeMidiSystem(); // also keeps the MIDI system's own error printing quiet

public:
    std::unique_ptr<Ports> publish (const juce::String& name, Receiver& receiver, juce::String& problem) override
    {
#if JUCE_WINDOWS
        // Windows' MIDI system has no ports that a program can create for others (JUCE offers
        // createNewDevice only where the system has them); a loopback MIDI driver would be needed.
        juce::ignoreUnused (name, receiver);
        problem = "this platform's MIDI system cannot create ports for other programs";
        return {};
#else
        auto callback = std::make_unique<IncomingMidiBytes> (receiver);
        auto input = juce::MidiInput::createNewDevice (name, callback.get());
        auto output = juce::MidiOutput::createNewDevice (name);

        if (input == nullptr || output == nullptr)
        {
            if (native.system->isAvailable (problem))
                problem = "the MIDI system refused to create the ports";
            return {};
        }

        // Keeps this program's connection to the MIDI system (on ALSA: its sequencer client) open
        // while the ports come and go: a new connection could get another client number and so move
        // the ports within the lists, which would swap the names of two simulators of one model.
        // A port opened to our own input is one that other programs do not list.
        if (keeper == nullptr)
            keeper = juce::MidiOutput::openDevice (input->getIdentifier());

        return std::make_unique<SystemPorts> (std::move (callback), std::move (input), std::move (output));
#endif
    }

private:
    std::unique_ptr<juce::MidiOutput> keeper;
};
} // namespace

void IncomingMidiBytes::handlePartialSysexMessage (juce::MidiInput*, const juce::uint8* data, int numBytesSoFar, double)
{
    // The same count comes again after a real-time byte inside the message (nothing new); a smaller
    // one means a new message began.
    if (numBytesSoFar < forwarded)
        forwarded = 0;

    if (numBytesSoFar > forwarded)
        receiver.bytesReceived (data + forwarded, numBytesSoFar - forwarded);

    forwarded = numBytesSoFar;
}

void IncomingMidiBytes::handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& message)
{
    const auto* data = message.getRawData();
    const int size = message.getRawDataSize();
    const bool continuesPartial = forwarded > 0 && message.isSysEx() && size >= forwarded;
    const int from = continuesPartial ? forwarded : 0;

    // Real-time bytes may arrive in the middle of a SysEx message; anything else ends it.
    const bool realTime = size == 1 && data[0] >= 0xF8;
    if (!realTime)
        forwarded = 0;

    if (size > from)
        receiver.bytesReceived (data + from, size - from);
}

std::unique_ptr<PortPublisher> createSystemPortPublisher()
{
    return std::make_unique<SystemPortPublisher>();
}

// ----- VirtualPortPublisher -----

// The device of a published pair: passes what the host sends to the current receiver.
class VirtualPortPublisher::Forwarder final : public VirtualMidiLayer::Device
{
public:
    void receiveFromHost (const juce::MidiMessage& message) override
    {
        std::lock_guard<std::mutex> guard (lock);
        if (receiver != nullptr)
            receiver->bytesReceived (message.getRawData(), message.getRawDataSize());
    }

    void setReceiver (Receiver* r)
    {
        std::lock_guard<std::mutex> guard (lock);
        receiver = r;
    }

private:
    std::mutex lock;
    Receiver* receiver = nullptr;
};

class VirtualPortPublisher::VirtualPorts final : public Ports
{
public:
    VirtualPorts (VirtualMidiLayer& l, const juce::String& n, Forwarder& f) : layer (l), pairName (n), forwarder (f) {}

    ~VirtualPorts() override
    {
        layer.setPortsPresent (pairName, false);
        forwarder.setReceiver (nullptr);
    }

    void send (const juce::MidiMessage& message) override { layer.sendToHost (pairName, message); }

private:
    VirtualMidiLayer& layer;
    const juce::String pairName;
    Forwarder& forwarder;
};

VirtualPortPublisher::VirtualPortPublisher (VirtualMidiLayer& hostLayer) : layer (hostLayer) {}

VirtualPortPublisher::~VirtualPortPublisher()
{
    for (auto* forwarder : forwarders)
        forwarder->setReceiver (nullptr);
}

std::unique_ptr<PortPublisher::Ports> VirtualPortPublisher::publish (const juce::String& name, Receiver& receiver,
                                                                     juce::String&)
{
    // A fresh pair for every publication, as a re-created port is a new port to the system.
    std::lock_guard<std::mutex> guard (lock);
    const auto pairName =
        name + " #" + juce::String (++pairsMade) + " " + juce::String::toHexString ((juce::pointer_sized_int) this);
    auto& forwarder = layer.addDevice (pairName, std::make_unique<Forwarder>());
    layer.setListedName (pairName, name);
    forwarder.setReceiver (&receiver);
    forwarders.push_back (&forwarder);
    lastPairName = pairName;
    return std::make_unique<VirtualPorts> (layer, pairName, forwarder);
}

juce::String VirtualPortPublisher::getLastPairName() const
{
    std::lock_guard<std::mutex> guard (lock);
    return lastPairName;
}
} // namespace vfu::simulation
