#include "midi/VirtualMidiLayer.h"

#include "core/Clock.h"

namespace vfu
{
namespace
{
// Messages kept per port for getMessagesSentTo (a whole firmware transfer is about 1,400).
constexpr size_t maximumSentKept = 100000;
} // namespace

struct VirtualMidiLayer::Port
{
    juce::String name;
    juce::String listedName; // as a MIDI system lists it
    std::unique_ptr<Device> device;
    bool present = true;
    int generation = 0; // advances whenever the pair leaves the lists, killing older connections
    std::vector<juce::MidiMessage> sent;
    juce::StringArray otherPrograms;                // connected to this pair besides the updater
    juce::String inputHeldResult, outputHeldResult; // non-empty while another program holds the port
};

class VirtualMidiLayer::InputConnection final : public MidiInputConnection
{
public:
    InputConnection (VirtualMidiLayer& l, const juce::String& n, const juce::String& reported, int g, MidiReceiver& r)
        : layer (l), name (n), reportedName (reported), generation (g), receiver (r)
    {
    }

    ~InputConnection() override
    {
        std::lock_guard<std::recursive_mutex> delivery (layer.deliveryLock);
        std::lock_guard<std::mutex> guard (layer.portsLock);
        layer.inputs.erase (std::remove (layer.inputs.begin(), layer.inputs.end(), this), layer.inputs.end());
    }

    void start() override
    {
        std::lock_guard<std::mutex> guard (layer.portsLock);
        started = true;
    }

    void stop() override
    {
        // Once stop returns no delivery is in progress and none follows.
        std::lock_guard<std::recursive_mutex> delivery (layer.deliveryLock);
        std::lock_guard<std::mutex> guard (layer.portsLock);
        started = false;
    }

    juce::String getName() const override { return reportedName; }

    VirtualMidiLayer& layer;
    const juce::String name;
    const juce::String reportedName; // the source name handed to the receiver
    const int generation;
    MidiReceiver& receiver;
    bool started = false; // under portsLock
};

class VirtualMidiLayer::OutputConnection final : public MidiOutputConnection
{
public:
    OutputConnection (VirtualMidiLayer& l, const juce::String& n, const juce::String& reported, int g)
        : layer (l), name (n), reportedName (reported), generation (g)
    {
        ++layer.openOutputs;
    }

    ~OutputConnection() override { --layer.openOutputs; }

    MidiSendResult sendMessageNow (const juce::MidiMessage& message) override
    {
        return layer.send (name, generation, message);
    }
    juce::String getName() const override { return reportedName; }

private:
    VirtualMidiLayer& layer;
    const juce::String name;
    const juce::String reportedName;
    const int generation;
};

// Runs queued deliveries and tasks in due order on the clock.
class VirtualMidiLayer::DeliveryThread final : public juce::Thread
{
public:
    explicit DeliveryThread (Clock& c) : juce::Thread ("Virtual MIDI"), clock (c) {}

    ~DeliveryThread() override { stop(); }

    void stop()
    {
        signalThreadShouldExit();
        wake.signal();
        stopThread (10000);
    }

    void post (int delayMilliseconds, std::function<void()> task)
    {
        {
            std::lock_guard<std::mutex> guard (queueLock);
            // Equal due times keep their order: multimap inserts after equal keys.
            queue.emplace (clock.now() + juce::jmax (0, delayMilliseconds), std::move (task));
        }
        wake.signal();
    }

    void run() override
    {
        while (!threadShouldExit())
        {
            std::function<void()> task;
            juce::int64 waitFor = -1;
            {
                std::lock_guard<std::mutex> guard (queueLock);
                if (!queue.empty())
                {
                    const auto first = queue.begin();
                    const auto now = clock.now();
                    if (first->first <= now)
                    {
                        task = std::move (first->second);
                        queue.erase (first);
                    }
                    else
                    {
                        waitFor = first->first - now;
                    }
                }
            }

            if (task)
            {
                task();
                continue;
            }

            // An empty queue waits for a post or a stop, both of which signal.
            if (waitFor < 0)
                wake.wait (-1);
            else
                clock.wait (wake, (int) juce::jmin<juce::int64> (waitFor, 100000));
        }
    }

private:
    Clock& clock;
    std::mutex queueLock;
    std::multimap<juce::int64, std::function<void()>> queue;
    juce::WaitableEvent wake;
};

VirtualMidiLayer::VirtualMidiLayer (Clock& clockToUse, bool openOnMessageThreadToUse)
    : clock (clockToUse), openOnMessageThread (openOnMessageThreadToUse),
      deliveryThread (std::make_unique<DeliveryThread> (clockToUse))
{
    deliveryThread->startThread();
}

VirtualMidiLayer::~VirtualMidiLayer()
{
    // No task may run once the devices it refers to are being deleted.
    deliveryThread->stop();
    jassert (inputs.empty() && openOutputs == 0); // connections must not outlive the layer
}

void VirtualMidiLayer::addPorts (const juce::String& name, std::unique_ptr<Device> device)
{
    {
        std::lock_guard<std::mutex> guard (portsLock);
        jassert (findPort (name) == nullptr);

        auto port = std::make_unique<Port>();
        port->name = name;
        port->listedName = name;
        port->device = std::move (device);
        ports.push_back (std::move (port));
    }
    portChanges.signalAll();
}

void VirtualMidiLayer::setPortsPresent (const juce::String& name, bool present)
{
    {
        std::lock_guard<std::mutex> guard (portsLock);
        if (auto* port = findPort (name))
        {
            if (port->present && !present)
                ++port->generation;

            port->present = present;
        }
    }
    portChanges.signalAll();
}

bool VirtualMidiLayer::addPortChangeEvent (juce::WaitableEvent& event)
{
    portChanges.add (event);
    return true;
}

void VirtualMidiLayer::removePortChangeEvent (juce::WaitableEvent& event)
{
    portChanges.remove (event);
}

void VirtualMidiLayer::notifyPortChange()
{
    portChanges.signalAll();
}

bool VirtualMidiLayer::arePortsPresent (const juce::String& name) const
{
    std::lock_guard<std::mutex> guard (portsLock);
    auto* port = findPort (name);
    return port != nullptr && port->present;
}

void VirtualMidiLayer::setHeldByAnotherProgram (const juce::String& name, const juce::String& inputResult,
                                                const juce::String& outputResult)
{
    {
        std::lock_guard<std::mutex> guard (portsLock);
        if (auto* port = findPort (name))
        {
            port->inputHeldResult = inputResult;
            port->outputHeldResult = outputResult;
        }
    }
    portChanges.signalAll();
}

bool VirtualMidiLayer::isHeld (const Port& port, bool input, const juce::String& reportedName, OpenRefusal* refusal)
{
    const auto& result = input ? port.inputHeldResult : port.outputHeldResult;
    if (result.isEmpty())
        return false;

    if (refusal != nullptr)
        *refusal = { true, reportedName, result };
    return true;
}

void VirtualMidiLayer::setOtherProgramsConnected (const juce::String& name, const juce::StringArray& programs)
{
    std::lock_guard<std::mutex> guard (portsLock);
    if (auto* port = findPort (name))
        port->otherPrograms = programs;
}

juce::StringArray VirtualMidiLayer::getOtherProgramsConnectedTo (const juce::String& inputIdentifier,
                                                                 const juce::String& outputIdentifier)
{
    std::lock_guard<std::mutex> guard (portsLock);
    juce::StringArray programs;
    for (auto* identifier : { &inputIdentifier, &outputIdentifier })
        if (auto* port = findPort (*identifier); port != nullptr && port->present)
            for (auto& program : port->otherPrograms)
                programs.addIfNotAlreadyThere (program);
    return programs;
}

void VirtualMidiLayer::sendToHost (const juce::String& name, const juce::MidiMessage& message, int delayMilliseconds)
{
    int generation = -1;
    {
        std::lock_guard<std::mutex> guard (portsLock);
        if (auto* port = findPort (name); port != nullptr && port->present)
            generation = port->generation;
    }

    if (generation < 0)
        return;

    deliveryThread->post (delayMilliseconds,
                          [this, name, message, generation]
                          {
                              // A pair that left the lists since the reply was queued delivers nothing.
                              {
                                  std::lock_guard<std::mutex> guard (portsLock);
                                  auto* port = findPort (name);
                                  if (port == nullptr || !port->present || port->generation != generation)
                                      return;
                              }
                              deliver (name, message);
                          });
}

void VirtualMidiLayer::callAfter (int delayMilliseconds, std::function<void()> task)
{
    deliveryThread->post (delayMilliseconds, std::move (task));
}

std::vector<juce::MidiMessage> VirtualMidiLayer::getMessagesSentTo (const juce::String& name) const
{
    std::lock_guard<std::mutex> guard (portsLock);
    if (auto* port = findPort (name))
        return port->sent;
    return {};
}

int VirtualMidiLayer::getNumMessagesSentTo (const juce::String& name) const
{
    std::lock_guard<std::mutex> guard (portsLock);
    if (auto* port = findPort (name))
        return (int) port->sent.size();
    return 0;
}

void VirtualMidiLayer::clearSentMessages()
{
    std::lock_guard<std::mutex> guard (portsLock);
    for (auto& port : ports)
        port->sent.clear();
}

int VirtualMidiLayer::getNumOpenInputs() const
{
    std::lock_guard<std::mutex> guard (portsLock);
    return (int) inputs.size();
}

int VirtualMidiLayer::getNumOpenOutputs() const
{
    return openOutputs;
}

juce::StringArray VirtualMidiLayer::getInputNames()
{
    return getPresentNames();
}

juce::StringArray VirtualMidiLayer::getOutputNames()
{
    return getPresentNames();
}

std::unique_ptr<MidiInputConnection> VirtualMidiLayer::openInput (int index, MidiReceiver& receiver)
{
    OpenRefusal ignored;
    return openInputOrSayWhy (index, receiver, ignored);
}

std::unique_ptr<MidiOutputConnection> VirtualMidiLayer::openOutput (int index)
{
    OpenRefusal ignored;
    return openOutputOrSayWhy (index, ignored);
}

std::unique_ptr<MidiInputConnection> VirtualMidiLayer::openInputOrSayWhy (int index, MidiReceiver& receiver,
                                                                          OpenRefusal& refusal)
{
    std::lock_guard<std::mutex> guard (portsLock);
    auto* port = findPresentPort (index);
    if (port == nullptr || isHeld (*port, true, port->name, &refusal))
        return nullptr;
    return openInputOn (*port, port->name, receiver);
}

std::unique_ptr<MidiOutputConnection> VirtualMidiLayer::openOutputOrSayWhy (int index, OpenRefusal& refusal)
{
    std::lock_guard<std::mutex> guard (portsLock);
    auto* port = findPresentPort (index);
    if (port == nullptr || isHeld (*port, false, port->name, &refusal))
        return nullptr;
    return openOutputOn (*port, port->name);
}

std::unique_ptr<MidiInputConnection> VirtualMidiLayer::openInputNamed (const juce::String& name,
                                                                       const juce::String& reportedName,
                                                                       MidiReceiver& receiver, OpenRefusal* refusal)
{
    std::lock_guard<std::mutex> guard (portsLock);
    auto* port = findPort (name);
    if (port == nullptr || !port->present || isHeld (*port, true, reportedName, refusal))
        return nullptr;
    return openInputOn (*port, reportedName, receiver);
}

std::unique_ptr<MidiOutputConnection>
VirtualMidiLayer::openOutputNamed (const juce::String& name, const juce::String& reportedName, OpenRefusal* refusal)
{
    std::lock_guard<std::mutex> guard (portsLock);
    auto* port = findPort (name);
    if (port == nullptr || !port->present || isHeld (*port, false, reportedName, refusal))
        return nullptr;
    return openOutputOn (*port, reportedName);
}

std::unique_ptr<MidiInputConnection> VirtualMidiLayer::openInputOn (Port& port, const juce::String& reportedName,
                                                                    MidiReceiver& receiver)
{
    auto connection = std::make_unique<InputConnection> (*this, port.name, reportedName, port.generation, receiver);
    inputs.push_back (connection.get());
    return connection;
}

std::unique_ptr<MidiOutputConnection> VirtualMidiLayer::openOutputOn (Port& port, const juce::String& reportedName)
{
    return std::make_unique<OutputConnection> (*this, port.name, reportedName, port.generation);
}

void VirtualMidiLayer::setListedName (const juce::String& name, const juce::String& systemName)
{
    std::lock_guard<std::mutex> guard (portsLock);
    if (auto* port = findPort (name))
        port->listedName = systemName;
}

juce::Array<juce::MidiDeviceInfo> VirtualMidiLayer::getListedPorts() const
{
    std::lock_guard<std::mutex> guard (portsLock);
    juce::Array<juce::MidiDeviceInfo> listed;
    for (auto& port : ports)
        if (port->present)
            listed.add (juce::MidiDeviceInfo (port->listedName, port->name));
    return listed;
}

VirtualMidiLayer::Port* VirtualMidiLayer::findPresentPort (int index)
{
    if (index < 0)
        return nullptr;

    for (auto& port : ports)
        if (port->present && index-- == 0)
            return port.get();

    return nullptr;
}

VirtualMidiLayer::Port* VirtualMidiLayer::findPort (const juce::String& name) const
{
    for (auto& port : ports)
        if (port->name == name)
            return port.get();

    return nullptr;
}

juce::StringArray VirtualMidiLayer::getPresentNames() const
{
    std::lock_guard<std::mutex> guard (portsLock);
    juce::StringArray names;
    for (auto& port : ports)
        if (port->present)
            names.add (port->name);
    return names;
}

void VirtualMidiLayer::deliver (const juce::String& name, const juce::MidiMessage& message)
{
    std::lock_guard<std::recursive_mutex> delivery (deliveryLock);

    std::vector<std::pair<MidiReceiver*, juce::String>> receivers;
    {
        std::lock_guard<std::mutex> guard (portsLock);
        auto* port = findPort (name);
        if (port == nullptr || !port->present)
            return;

        for (auto* input : inputs)
            if (input->started && input->name == name && input->generation == port->generation)
                receivers.emplace_back (&input->receiver, input->reportedName);
    }

    // Receivers are called without portsLock: they may read the port lists.
    for (auto& [receiver, reportedName] : receivers)
        receiver->handleIncomingMidi (reportedName, message);
}

MidiSendResult VirtualMidiLayer::send (const juce::String& name, int generation, const juce::MidiMessage& message)
{
    Device* device = nullptr;
    {
        std::lock_guard<std::mutex> guard (portsLock);
        auto* port = findPort (name);
        if (port == nullptr || !port->present || port->generation != generation)
            return MidiSendResult::destinationGone; // the message is lost

        // Long demonstrations keep only the recent history.
        if (port->sent.size() >= maximumSentKept)
            port->sent.erase (port->sent.begin(), port->sent.begin() + (long) (maximumSentKept / 2));

        port->sent.push_back (message);
        device = port->device.get();
    }

    // Devices live as long as the layer.
    if (device != nullptr)
        device->receiveFromHost (message);
    return MidiSendResult::sent;
}
// ----- VirtualMidiSystem -----

juce::Array<juce::MidiDeviceInfo> VirtualMidiSystem::getInputs()
{
    return available ? layer.getListedPorts() : juce::Array<juce::MidiDeviceInfo>();
}

juce::Array<juce::MidiDeviceInfo> VirtualMidiSystem::getOutputs()
{
    return getInputs(); // every port is a pair
}

std::unique_ptr<MidiInputConnection>
VirtualMidiSystem::openInput (const juce::String& identifier, const juce::String& listedName, MidiReceiver& receiver)
{
    return available ? layer.openInputNamed (identifier, listedName, receiver) : nullptr;
}

std::unique_ptr<MidiOutputConnection> VirtualMidiSystem::openOutput (const juce::String& identifier,
                                                                     const juce::String& listedName)
{
    return available ? layer.openOutputNamed (identifier, listedName) : nullptr;
}

std::unique_ptr<MidiInputConnection> VirtualMidiSystem::openInputOrSayWhy (const juce::String& identifier,
                                                                           const juce::String& listedName,
                                                                           MidiReceiver& receiver, OpenRefusal& refusal)
{
    return available ? layer.openInputNamed (identifier, listedName, receiver, &refusal) : nullptr;
}

std::unique_ptr<MidiOutputConnection> VirtualMidiSystem::openOutputOrSayWhy (const juce::String& identifier,
                                                                             const juce::String& listedName,
                                                                             OpenRefusal& refusal)
{
    return available ? layer.openOutputNamed (identifier, listedName, &refusal) : nullptr;
}

juce::StringArray VirtualMidiSystem::getOtherProgramsConnectedTo (const juce::String& inputIdentifier,
                                                                  const juce::String& outputIdentifier)
{
    return available ? layer.getOtherProgramsConnectedTo (inputIdentifier, outputIdentifier) : juce::StringArray();
}

bool VirtualMidiSystem::isAvailable (juce::String& problem)
{
    if (!available)
        problem = "the virtual MIDI system is switched off";
    return available;
}
} // namespace vfu
