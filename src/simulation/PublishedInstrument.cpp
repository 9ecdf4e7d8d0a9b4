#include "simulation/PublishedInstrument.h"

namespace vfu::simulation
{
namespace
{
// How often the ports are checked even without a restart (a failed creation is retried).
constexpr int checkIntervalMs = 250;
} // namespace

PublishedInstrument::PublishedInstrument (SimulatedInstrument& instrumentToUse, PortPublisher& publisherToUse,
                                          Listener* listenerToUse)
    : juce::Thread ("Simulator ports"), instrument (instrumentToUse), publisher (publisherToUse),
      name (instrumentToUse.getPortName()), listener (listenerToUse)
{
    instrument.setEventListener ([this] (const InstrumentEvent& event) { instrumentEvent (event); });
}

PublishedInstrument::~PublishedInstrument()
{
    stop();
    instrument.setEventListener ({});
}

bool PublishedInstrument::start (juce::String& problem)
{
    if (!reconcile (problem))
        return false;

    startThread();
    return true;
}

void PublishedInstrument::stop()
{
    signalThreadShouldExit();
    wake.signal();
    stopThread (10000);
    closePorts();
}

bool PublishedInstrument::isPublished() const
{
    std::lock_guard<std::mutex> guard (publishedLock);
    return published != nullptr;
}

void PublishedInstrument::instrumentEvent (const InstrumentEvent& event)
{
    if (event.kind == InstrumentEvent::Kind::leftPorts)
        ++departures;

    if (event.kind == InstrumentEvent::Kind::leftPorts || event.kind == InstrumentEvent::Kind::returned)
        wake.signal();

    if (listener != nullptr)
        listener->instrumentEvent (event);
}

void PublishedInstrument::run()
{
    juce::String problem;
    while (!threadShouldExit())
    {
        wake.wait (checkIntervalMs);
        if (threadShouldExit())
            break;
        reconcile (problem);
    }
}

bool PublishedInstrument::reconcile (juce::String& problem)
{
    // Read before the presence, so that a restart in between is seen at the next check.
    const int departed = departures;
    const bool present = instrument.getLayer().arePortsPresent (name);
    const bool open = isPublished();

    if (open && (!present || departed != departuresAtPublication))
        closePorts();

    if (present && (!open || departed != departuresAtPublication))
    {
        departuresAtPublication = departed;
        return openPorts (problem);
    }

    return true;
}

bool PublishedInstrument::openPorts (juce::String& problem)
{
    auto& layer = instrument.getLayer();

    auto output = layer.openOutputNamed (name, name);
    fromInstrument = layer.openInputNamed (name, name, *this);
    if (output == nullptr || fromInstrument == nullptr)
    {
        fromInstrument.reset();
        return true; // it left again meanwhile: the next restart event brings it back
    }

    fromInstrument->start();
    {
        std::lock_guard<std::mutex> guard (hostLock);
        toInstrument = std::move (output);
    }

    auto ports = publisher.publish (name, *this, problem);
    if (ports == nullptr)
    {
        departuresAtPublication = -1; // try again at the next check
        if (listener != nullptr && problem != lastProblem)
            listener->portsChanged (false, problem);
        lastProblem = problem;
        return false;
    }

    {
        std::lock_guard<std::mutex> guard (publishedLock);
        published = std::move (ports);
    }
    ++publications;
    lastProblem = {};
    if (listener != nullptr)
        listener->portsChanged (true, {});
    return true;
}

void PublishedInstrument::closePorts()
{
    // Each piece is taken out under its lock and closed outside it: closing waits for callbacks in
    // progress, which may themselves wait for these locks.
    std::unique_ptr<PortPublisher::Ports> ports;
    {
        std::lock_guard<std::mutex> guard (publishedLock);
        ports = std::move (published);
    }

    if (ports != nullptr)
    {
        ports.reset();
        if (listener != nullptr)
            listener->portsChanged (false, {});
    }

    if (fromInstrument != nullptr)
        fromInstrument->stop();
    fromInstrument.reset();

    std::unique_ptr<MidiOutputConnection> output;
    {
        std::lock_guard<std::mutex> guard (hostLock);
        output = std::move (toInstrument);
    }
    output.reset();
}

void PublishedInstrument::bytesReceived (const juce::uint8* data, int size)
{
    if (size <= 0)
        return;

    std::lock_guard<std::mutex> guard (hostLock);
    if (toInstrument != nullptr)
        toInstrument->sendMessageNow (juce::MidiMessage (data, size, 0.0));
}

void PublishedInstrument::handleIncomingMidi (const juce::String&, const juce::MidiMessage& message)
{
    std::lock_guard<std::mutex> guard (publishedLock);
    if (published != nullptr)
        published->send (message);
}
} // namespace vfu::simulation
