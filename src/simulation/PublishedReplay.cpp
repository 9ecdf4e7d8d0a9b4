#include "simulation/PublishedReplay.h"

namespace vfu::simulation
{
namespace
{
// How often the shown ports are compared with the published ones: well inside the second a poll
// of the updater takes.
constexpr int checkIntervalMs = 20;
} // namespace

// One recorded port: published while the replay shows it.
class PublishedReplay::Port final : private PortPublisher::Receiver, private MidiReceiver
{
public:
    Port (RecordingReplay& replayToUse, juce::String portName) : replay (replayToUse), name (std::move (portName)) {}

    ~Port() override { close(); }

    const juce::String& getName() const { return name; }
    bool isOpen() const
    {
        const std::lock_guard<std::mutex> guard (lock);
        return published != nullptr;
    }

    bool open (VirtualMidiLayer& layer, PortPublisher& publisher, juce::String& problem)
    {
        fromReplay = layer.openInputNamed (name, name, *this);
        if (fromReplay == nullptr)
            return true; // taken away again meanwhile

        auto made = publisher.publish (name, *this, problem);
        if (made == nullptr)
        {
            fromReplay.reset();
            return false;
        }

        {
            const std::lock_guard<std::mutex> guard (lock);
            published = std::move (made);
        }
        fromReplay->start();
        return true;
    }

    void close()
    {
        // Closed outside the lock: closing waits for callbacks in progress, which take it.
        if (fromReplay != nullptr)
            fromReplay->stop();
        fromReplay.reset();

        std::unique_ptr<PortPublisher::Ports> ports;
        {
            const std::lock_guard<std::mutex> guard (lock);
            ports = std::move (published);
        }
    }

private:
    void bytesReceived (const juce::uint8* data, int size) override { replay.hostBytes (name, data, size); }

    void handleIncomingMidi (const juce::String&, const juce::MidiMessage& message) override
    {
        const std::lock_guard<std::mutex> guard (lock);
        if (published != nullptr)
            published->send (message);
    }

    RecordingReplay& replay;
    const juce::String name;
    mutable std::mutex lock; // guards published (held while sending on it)
    std::unique_ptr<PortPublisher::Ports> published;
    std::unique_ptr<MidiInputConnection> fromReplay; // the owner's thread only
};

PublishedReplay::PublishedReplay (RecordingReplay& replayToUse, VirtualMidiLayer& layerToUse,
                                  PortPublisher& publisherToUse, std::function<void (const juce::String&)> printer)
    : juce::Thread ("Replay ports"), replay (replayToUse), layer (layerToUse), publisher (publisherToUse),
      print (std::move (printer))
{
    for (auto& name : replay.getPortNames())
        ports.push_back (std::make_unique<Port> (replay, name));
}

PublishedReplay::~PublishedReplay()
{
    stop();
}

bool PublishedReplay::start (juce::String& problem)
{
    if (!reconcile (problem))
        return false;
    startThread();
    return true;
}

void PublishedReplay::stop()
{
    stopThread (10000);
    for (auto& port : ports)
        port->close();
}

void PublishedReplay::run()
{
    juce::String problem;
    while (!threadShouldExit())
    {
        if (!reconcile (problem))
            print ("replay: cannot create the ports: " + problem);
        wait (checkIntervalMs);
    }
}

bool PublishedReplay::reconcile (juce::String& problem)
{
    for (auto& port : ports)
    {
        const bool shown = layer.arePortsPresent (port->getName());
        if (port->isOpen() == shown)
            continue;

        if (!shown)
        {
            port->close();
            print ("ports: closed \"" + port->getName() + "\"");
        }
        else if (port->open (layer, publisher, problem))
        {
            if (port->isOpen())
                print ("ports: created \"" + port->getName() + "\"");
        }
        else
        {
            return false;
        }
    }
    return true;
}
} // namespace vfu::simulation
