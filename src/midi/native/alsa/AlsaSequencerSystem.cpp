#include "midi/native/alsa/AlsaSequencerSystem.h"

#include "core/Log.h"
#include "midi/native/alsa/AlsaSequencerConnection.h"
#include "midi/native/alsa/AlsaSequencerEvents.h"

namespace vfu
{
#if JUCE_LINUX
namespace
{
class AlsaSequencerInput final : public MidiInputConnection
{
public:
    AlsaSequencerInput (std::shared_ptr<alsa::SequencerConnection> c, int number, alsa::PortAddress from,
                        const juce::String& name)
        : connection (std::move (c)), input (number), source (from), listedName (name)
    {
    }

    ~AlsaSequencerInput() override { connection->closeInput (input, source); }

    void start() override { connection->setInputStarted (input, true); }
    void stop() override { connection->setInputStarted (input, false); }
    juce::String getName() const override { return listedName; }

private:
    const std::shared_ptr<alsa::SequencerConnection> connection;
    const int input;
    const alsa::PortAddress source;
    const juce::String listedName;
};

class AlsaSequencerOutput final : public MidiOutputConnection
{
public:
    AlsaSequencerOutput (std::shared_ptr<alsa::SequencerConnection> c, alsa::PortAddress to, juce::uint64 subscription,
                         const juce::String& name)
        : connection (std::move (c)), destination (to), generation (subscription), listedName (name)
    {
        snd_midi_event_new (64, &encoder);
    }

    ~AlsaSequencerOutput() override
    {
        if (encoder != nullptr)
            snd_midi_event_free (encoder);
        connection->closeOutput (destination);
    }

    MidiSendResult sendMessageNow (const juce::MidiMessage& message) override
    {
        const auto* data = message.getRawData();
        const int size = message.getRawDataSize();
        if (size <= 0)
            return MidiSendResult::sent;

        // Events go to the address, whoever is there: a port that left and came back there (an
        // instrument restarting) is not the one this output was opened on, and gets nothing.
        if (!connection->isOutputConnected (destination, generation))
        {
            logFailure ("its destination is gone");
            return MidiSendResult::destinationGone;
        }

        int error = encoder == nullptr ? -ENOMEM : alsa::buildSequencerEvents (data, size, *encoder, events);
        for (size_t i = 0; error >= 0 && i < events.size(); ++i)
            error = connection->send (events[i], destination);

        // The port may have left during the write, which the kernel does not report as an error.
        if (!connection->isOutputConnected (destination, generation))
        {
            logFailure ("its destination is gone");
            return MidiSendResult::destinationGone;
        }

        if (error < 0)
        {
            logFailure (snd_strerror (error));
            return MidiSendResult::refused;
        }
        return MidiSendResult::sent;
    }

    juce::String getName() const override { return listedName; }

private:
    void logFailure (const juce::String& why)
    {
        if (!failureLogged)
        {
            failureLogged = true;
            writeLog ("MIDI output [" + listedName + "] : a message could not be sent (" + why + ")");
        }
    }

    const std::shared_ptr<alsa::SequencerConnection> connection;
    const alsa::PortAddress destination;
    const juce::uint64 generation;
    const juce::String listedName;
    snd_midi_event_t* encoder = nullptr;
    std::vector<snd_seq_event_t> events;
    bool failureLogged = false;
};
} // namespace

AlsaSequencerSystem::AlsaSequencerSystem() : connection (alsa::SequencerConnection::getShared()) {}
AlsaSequencerSystem::~AlsaSequencerSystem() = default;

juce::Array<juce::MidiDeviceInfo> AlsaSequencerSystem::getInputs()
{
    return connection->listPorts (true);
}

juce::Array<juce::MidiDeviceInfo> AlsaSequencerSystem::getOutputs()
{
    return connection->listPorts (false);
}

std::unique_ptr<MidiInputConnection>
AlsaSequencerSystem::openInput (const juce::String& identifier, const juce::String& listedName, MidiReceiver& receiver)
{
    alsa::PortAddress source;
    if (!alsa::PortAddress::parse (identifier, source))
        return {};

    const int input = connection->openInput (source, receiver, listedName);
    if (input < 0)
        return {};
    return std::make_unique<AlsaSequencerInput> (connection, input, source, listedName);
}

std::unique_ptr<MidiOutputConnection> AlsaSequencerSystem::openOutput (const juce::String& identifier,
                                                                       const juce::String& listedName)
{
    alsa::PortAddress destination;
    juce::uint64 generation = 0;
    if (!alsa::PortAddress::parse (identifier, destination) || !connection->openOutput (destination, generation))
        return {};
    return std::make_unique<AlsaSequencerOutput> (connection, destination, generation, listedName);
}

juce::StringArray AlsaSequencerSystem::getOtherProgramsConnectedTo (const juce::String& inputIdentifier,
                                                                    const juce::String& outputIdentifier)
{
    return connection->otherProgramsConnectedTo (inputIdentifier, outputIdentifier);
}

bool AlsaSequencerSystem::isAvailable (juce::String& problem)
{
    return connection->ensureOpen (problem);
}

bool AlsaSequencerSystem::addPortChangeEvent (juce::WaitableEvent& event)
{
    connection->addPortChangeEvent (event);
    return true;
}

void AlsaSequencerSystem::removePortChangeEvent (juce::WaitableEvent& event)
{
    connection->removePortChangeEvent (event);
}
#else
AlsaSequencerSystem::AlsaSequencerSystem() = default;
AlsaSequencerSystem::~AlsaSequencerSystem() = default;

juce::Array<juce::MidiDeviceInfo> AlsaSequencerSystem::getInputs()
{
    return {};
}

juce::Array<juce::MidiDeviceInfo> AlsaSequencerSystem::getOutputs()
{
    return {};
}

std::unique_ptr<MidiInputConnection> AlsaSequencerSystem::openInput (const juce::String&, const juce::String&,
                                                                     MidiReceiver&)
{
    return {};
}

std::unique_ptr<MidiOutputConnection> AlsaSequencerSystem::openOutput (const juce::String&, const juce::String&)
{
    return {};
}

juce::StringArray AlsaSequencerSystem::getOtherProgramsConnectedTo (const juce::String&, const juce::String&)
{
    return {};
}

bool AlsaSequencerSystem::isAvailable (juce::String& problem)
{
    problem = "there is no ALSA sequencer on this system";
    return false;
}
#endif
} // namespace vfu
