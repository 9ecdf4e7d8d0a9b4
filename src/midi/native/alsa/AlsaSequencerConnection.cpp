#include "midi/native/alsa/AlsaSequencerConnection.h"

#if JUCE_LINUX
#include <cstdarg>
#include <poll.h>
#include <vector>

// ALSA's event macros assign negated flag masks to byte fields.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wsign-conversion"
#endif

namespace vfu::alsa
{
namespace
{
// Without a MIDI system the updater polls every few milliseconds; opening is tried at most this often.
constexpr juce::uint32 openRetryMilliseconds = 1000;
// The receive thread looks at its stop flag at least this often.
constexpr int receivePollMilliseconds = 100;
// A kept port list is refreshed at least this often, even if no announcement of a change arrived.
constexpr juce::uint32 listingMaximumAgeMilliseconds = 1000;
// About half a second of retries for a receiver that is momentarily full.
constexpr int fullReceiverRetries = 500;

void quietErrorHandler (const char* file, int line, const char* function, int error, const char* format, ...)
{
    if (function != nullptr && juce::String (function) == "snd_seq_hw_open")
        return;

    std::fprintf (stderr, "ALSA lib %s:%i:(%s) ", file, line, function);
    va_list arguments;
    va_start (arguments, format);
    std::vfprintf (stderr, format, arguments);
    va_end (arguments);
    if (error != 0)
        std::fprintf (stderr, ": %s", snd_strerror (error));
    std::fputc ('\n', stderr);
}

bool isPortListChange (int type)
{
    switch (type)
    {
        case SND_SEQ_EVENT_CLIENT_START:
        case SND_SEQ_EVENT_CLIENT_EXIT:
        case SND_SEQ_EVENT_CLIENT_CHANGE:
        case SND_SEQ_EVENT_PORT_START:
        case SND_SEQ_EVENT_PORT_EXIT:
        case SND_SEQ_EVENT_PORT_CHANGE:
            return true;
        default:
            return false;
    }
}

juce::String programName()
{
    auto* app = juce::JUCEApplicationBase::getInstance();
    return app != nullptr ? app->getApplicationName() : juce::String ("vfu");
}
} // namespace

bool PortAddress::parse (const juce::String& identifier, PortAddress& address)
{
    const auto clientText = identifier.upToFirstOccurrenceOf ("-", false, false);
    const auto portText = identifier.fromFirstOccurrenceOf ("-", false, false);
    if (clientText.isEmpty() || portText.isEmpty() || !clientText.containsOnly ("0123456789") ||
        !portText.containsOnly ("0123456789") || clientText.length() > 3 || portText.length() > 3)
        return false;

    address.client = clientText.getIntValue();
    address.port = portText.getIntValue();
    return address.client <= 255 && address.port <= 255; // both are bytes in a sequencer address
}

void silenceSequencerOpenErrors()
{
    static const bool installed = [] { return snd_lib_error_set_handler (quietErrorHandler) == 0; }();
    juce::ignoreUnused (installed);
}

std::shared_ptr<SequencerConnection> SequencerConnection::getShared()
{
    silenceSequencerOpenErrors();
    static const auto shared = std::make_shared<SequencerConnection> (
        [] (snd_seq_t** handle) { return snd_seq_open (handle, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK); },
        [] { return juce::Time::getMillisecondCounter(); });
    return shared;
}

SequencerConnection::SequencerConnection (Opener opener, MillisecondClock clock)
    : open (std::move (opener)), now (std::move (clock))
{
}

SequencerConnection::~SequencerConnection()
{
    stopReceiving = true;
    if (receiver.joinable())
        receiver.join();
    if (seq != nullptr)
        snd_seq_close (seq); // removes our ports and every subscription to them
}

bool SequencerConnection::ensureOpen (juce::String& problem)
{
    std::lock_guard<std::mutex> guard (openLock);
    if (seq != nullptr)
        return true;

    const auto time = now();
    if (attempted && time - lastAttempt < openRetryMilliseconds)
    {
        problem = lastProblem;
        return false;
    }
    attempted = true;
    lastAttempt = time;
    ++openAttempts;

    snd_seq_t* handle = nullptr;
    int error = open (&handle);
    if (error >= 0 && handle == nullptr)
        error = -ENODEV;

    if (error >= 0)
    {
        snd_seq_set_client_name (handle, programName().toRawUTF8());
        ownClient = snd_seq_client_id (handle);
        // Neither port can be subscribed by others, so neither appears in any program's port list;
        // we make the subscriptions ourselves, which needs no such permission.
        inputPort = snd_seq_create_simple_port (handle, "Input", SND_SEQ_PORT_CAP_WRITE,
                                                SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        outputPort = snd_seq_create_simple_port (handle, "Output", SND_SEQ_PORT_CAP_READ,
                                                 SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        error = ownClient < 0 ? ownClient : inputPort < 0 ? inputPort : outputPort < 0 ? outputPort : 0;
        if (error < 0)
            snd_seq_close (handle);
    }

    if (error < 0)
    {
        lastProblem = "the ALSA sequencer cannot be opened: " + juce::String (snd_strerror (error));
        problem = lastProblem;
        return false;
    }

    // The system's announcements of clients and ports coming and going tell when the kept port list
    // is out of date; without them every listing asks the sequencer.
    announcementsFollowed =
        snd_seq_connect_from (handle, inputPort, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE) >= 0;

    seq = handle;
    openSeq.store (handle);
    receiver = std::thread ([this] { receive(); });
    return true;
}

juce::Array<juce::MidiDeviceInfo> SequencerConnection::listPorts (bool inputs)
{
    juce::String problem;
    if (!ensureOpen (problem))
        return {};

    std::lock_guard<std::mutex> guard (openLock);
    const auto changes = portChanges.load();
    const auto time = now();
    if (announcementsFollowed && listingValid && listingStamp == changes &&
        time - listingTime < listingMaximumAgeMilliseconds)
        return inputs ? cachedInputs : cachedOutputs;

    cachedInputs.clearQuick();
    cachedOutputs.clearQuick();

    // As JUCE 7.0.5 lists them: every client after the system client (0, whose timer and
    // announcement ports are no MIDI ports), every port others may subscribe to, named by the port,
    // identified as "client-port". Our own ports are not subscribable; our client is skipped anyway.
    snd_seq_client_info_t* clientInfo = nullptr;
    snd_seq_client_info_alloca (&clientInfo);
    snd_seq_port_info_t* portInfo = nullptr;
    snd_seq_port_info_alloca (&portInfo);

    snd_seq_client_info_set_client (clientInfo, 0);
    while (snd_seq_query_next_client (seq, clientInfo) >= 0)
    {
        const int client = snd_seq_client_info_get_client (clientInfo);
        if (client == ownClient)
            continue;

        snd_seq_port_info_set_client (portInfo, client);
        snd_seq_port_info_set_port (portInfo, -1);
        while (snd_seq_query_next_port (seq, portInfo) >= 0)
        {
            const auto capability = snd_seq_port_info_get_capability (portInfo);
            const juce::MidiDeviceInfo device (juce::String (snd_seq_port_info_get_name (portInfo)),
                                               juce::String (client) + "-" +
                                                   juce::String (snd_seq_port_info_get_port (portInfo)));
            if ((capability & SND_SEQ_PORT_CAP_SUBS_READ) != 0)
                cachedInputs.add (device);
            if ((capability & SND_SEQ_PORT_CAP_SUBS_WRITE) != 0)
                cachedOutputs.add (device);
        }
    }

    listingValid = true;
    listingStamp = changes;
    listingTime = time;
    return inputs ? cachedInputs : cachedOutputs;
}

bool SequencerConnection::isSubscribed (int senderClient, int senderPort, int destClient, int destPort) const
{
    snd_seq_port_subscribe_t* subscription = nullptr;
    snd_seq_port_subscribe_alloca (&subscription);
    const snd_seq_addr_t sender{ (unsigned char) senderClient, (unsigned char) senderPort };
    const snd_seq_addr_t destination{ (unsigned char) destClient, (unsigned char) destPort };
    snd_seq_port_subscribe_set_sender (subscription, &sender);
    snd_seq_port_subscribe_set_dest (subscription, &destination);
    return snd_seq_get_port_subscription (openSeq.load(), subscription) == 0;
}

int SequencerConnection::openInput (PortAddress source, MidiReceiver& receiverToUse, const juce::String& listedName)
{
    juce::String problem;
    if (!ensureOpen (problem))
        return -1;

    auto* handle = openSeq.load();
    {
        std::lock_guard<std::mutex> guard (subscriptionLock);
        auto& subscription = inputSubscriptions[source.key()];

        // A port that left took its subscription with it, also if it came back at the same address.
        if (subscription.users == 0 || !isSubscribed (source.client, source.port, ownClient, inputPort))
        {
            if (snd_seq_connect_from (handle, inputPort, source.client, source.port) < 0 &&
                !isSubscribed (source.client, source.port, ownClient, inputPort))
            {
                if (subscription.users == 0)
                    inputSubscriptions.erase (source.key());
                return -1;
            }
        }
        ++subscription.users;
    }

    return router.add (source.key(), receiverToUse, listedName);
}

void SequencerConnection::setInputStarted (int input, bool started)
{
    router.setStarted (input, started);
}

void SequencerConnection::closeInput (int input, PortAddress source)
{
    router.remove (input);

    std::lock_guard<std::mutex> guard (subscriptionLock);
    const auto found = inputSubscriptions.find (source.key());
    if (found != inputSubscriptions.end() && --found->second.users <= 0)
    {
        snd_seq_disconnect_from (openSeq.load(), inputPort, source.client, source.port);
        inputSubscriptions.erase (found);
    }
}

bool SequencerConnection::openOutput (PortAddress destination, juce::uint64& generation)
{
    juce::String problem;
    if (!ensureOpen (problem))
        return false;

    std::lock_guard<std::mutex> guard (subscriptionLock);
    auto& subscription = outputSubscriptions[destination.key()];
    if (subscription.users == 0 || !isSubscribed (ownClient, outputPort, destination.client, destination.port))
    {
        if (snd_seq_connect_to (openSeq.load(), outputPort, destination.client, destination.port) < 0 &&
            !isSubscribed (ownClient, outputPort, destination.client, destination.port))
        {
            if (subscription.users == 0)
                outputSubscriptions.erase (destination.key());
            return false;
        }
        // A new subscription: outputs opened on the old one find their port gone.
        subscription.generation = nextGeneration++;
    }
    ++subscription.users;
    generation = subscription.generation;
    return true;
}

bool SequencerConnection::isOutputConnected (PortAddress destination, juce::uint64 generation)
{
    std::lock_guard<std::mutex> guard (subscriptionLock);
    const auto found = outputSubscriptions.find (destination.key());
    return found != outputSubscriptions.end() && found->second.generation == generation &&
           isSubscribed (ownClient, outputPort, destination.client, destination.port);
}

void SequencerConnection::closeOutput (PortAddress destination)
{
    std::lock_guard<std::mutex> guard (subscriptionLock);
    const auto found = outputSubscriptions.find (destination.key());
    if (found != outputSubscriptions.end() && --found->second.users <= 0)
    {
        snd_seq_disconnect_to (openSeq.load(), outputPort, destination.client, destination.port);
        outputSubscriptions.erase (found);
    }
}

int SequencerConnection::send (snd_seq_event_t& event, PortAddress destination)
{
    auto* handle = openSeq.load();
    if (handle == nullptr)
        return -ENODEV;

    snd_seq_ev_set_source (&event, (unsigned char) outputPort);
    snd_seq_ev_set_dest (&event, (unsigned char) destination.client, (unsigned char) destination.port);
    snd_seq_ev_set_direct (&event);

    // A receiver whose buffer is full makes the kernel refuse the event rather than wait: try again
    // for a while instead of losing a piece of firmware, unless the sending thread is being stopped.
    int error = 0;
    for (int attempt = 0; attempt < fullReceiverRetries; ++attempt)
    {
        {
            std::lock_guard<std::mutex> guard (sendLock);
            error = snd_seq_event_output_direct (handle, &event);
        }
        if (error >= 0)
            return 0;
        if ((error != -EAGAIN && error != -ENOMEM) || juce::Thread::currentThreadShouldExit())
            return error;
        juce::Thread::sleep (1);
    }
    return error;
}

juce::StringArray SequencerConnection::otherProgramsConnectedTo (const juce::String& inputIdentifier,
                                                                 const juce::String& outputIdentifier)
{
    juce::String problem;
    if (!ensureOpen (problem))
        return {};

    auto* handle = openSeq.load();
    snd_seq_query_subscribe_t* query = nullptr;
    snd_seq_query_subscribe_alloca (&query);
    snd_seq_client_info_t* clientInfo = nullptr;
    snd_seq_client_info_alloca (&clientInfo);

    juce::StringArray names;
    for (const auto& identifier : { inputIdentifier, outputIdentifier })
    {
        PortAddress port;
        if (!PortAddress::parse (identifier, port))
            continue;

        const snd_seq_addr_t root{ (unsigned char) port.client, (unsigned char) port.port };
        for (const auto type : { SND_SEQ_QUERY_SUBS_READ, SND_SEQ_QUERY_SUBS_WRITE })
        {
            snd_seq_query_subscribe_set_root (query, &root);
            snd_seq_query_subscribe_set_type (query, type);
            snd_seq_query_subscribe_set_index (query, 0);
            while (snd_seq_query_port_subscribers (handle, query) >= 0)
            {
                const int client = snd_seq_query_subscribe_get_addr (query)->client;
                // The instrument's own client (its ports connected to each other) is no other program.
                if (client != ownClient && client != port.client &&
                    snd_seq_get_any_client_info (handle, client, clientInfo) >= 0)
                    names.addIfNotAlreadyThere (juce::String (snd_seq_client_info_get_name (clientInfo)));
                snd_seq_query_subscribe_set_index (query, snd_seq_query_subscribe_get_index (query) + 1);
            }
        }
    }
    return names;
}

void SequencerConnection::receive()
{
    snd_midi_event_t* decoder = nullptr;
    if (snd_midi_event_new (16, &decoder) < 0)
        return;
    snd_midi_event_no_status (decoder, 1); // every message with its status byte

    auto* sequencer = openSeq.load();
    const int count = snd_seq_poll_descriptors_count (sequencer, POLLIN);
    std::vector<pollfd> descriptors ((size_t) juce::jmax (0, count));
    snd_seq_poll_descriptors (sequencer, descriptors.data(), (unsigned int) descriptors.size(), POLLIN);

    while (!stopReceiving.load())
    {
        if (poll (descriptors.data(), (nfds_t) descriptors.size(), receivePollMilliseconds) <= 0)
            continue;

        // Everything waiting, without blocking (the handle is non-blocking).
        while (!stopReceiving.load())
        {
            snd_seq_event_t* event = nullptr;
            const int result = snd_seq_event_input (sequencer, &event);
            if (result == -ENOSPC)
            {
                notePortChange(); // the kernel dropped events for us, announcements perhaps among them
                continue;
            }
            if (result < 0 || event == nullptr)
                break;
            handle (*event, *decoder);
        }
    }

    snd_midi_event_free (decoder);
}

void SequencerConnection::notePortChange()
{
    ++portChanges;
    changeNotices.signalAll();
}

void SequencerConnection::handle (const snd_seq_event_t& event, snd_midi_event_t& decoder)
{
    if (event.source.client == SND_SEQ_CLIENT_SYSTEM && event.source.port == SND_SEQ_PORT_SYSTEM_ANNOUNCE)
    {
        if (isPortListChange (event.type))
            notePortChange();
        return;
    }

    if (event.dest.port != inputPort)
        return;

    const int source = PortAddress{ event.source.client, event.source.port }.key();
    if (event.type == SND_SEQ_EVENT_SYSEX)
    {
        // Passed on as they come: the router joins a message that arrives in several events.
        if (event.data.ext.ptr != nullptr && event.data.ext.len > 0 && event.data.ext.len < (1u << 24))
            router.deliver (source, static_cast<const juce::uint8*> (event.data.ext.ptr), (int) event.data.ext.len);
        return;
    }

    juce::uint8 bytes[16];
    const long size = snd_midi_event_decode (&decoder, bytes, (long) sizeof (bytes), &event);
    snd_midi_event_reset_decode (&decoder);
    if (size > 0)
        router.deliver (source, bytes, (int) size);
}
} // namespace vfu::alsa
#endif
