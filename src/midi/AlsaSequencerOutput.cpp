#include "midi/AlsaSequencerOutput.h"

#include "core/Log.h"
#include "midi/AlsaSequencerEvents.h"

#if JUCE_LINUX
#include <alsa/asoundlib.h>

// ALSA's event macros assign negated flag masks to byte fields.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wsign-conversion"
#endif
#endif

namespace vfu
{
#if JUCE_LINUX
namespace
{
// About half a second of retries for a receiver that is momentarily full.
constexpr int fullReceiverRetries = 500;

class AlsaSequencerOutput final : public MidiOutputConnection
{
public:
    AlsaSequencerOutput (snd_seq_t* s, int p, int toClient, int toPort, const juce::String& name)
        : seq (s), port (p), destinationClient (toClient), destinationPort (toPort), listedName (name)
    {
        snd_midi_event_new (64, &encoder);
    }

    ~AlsaSequencerOutput() override
    {
        if (encoder != nullptr)
            snd_midi_event_free (encoder);
        snd_seq_close (seq); // also removes the port and its connection
    }

    MidiSendResult sendMessageNow (const juce::MidiMessage& message) override
    {
        const auto* data = message.getRawData();
        const int size = message.getRawDataSize();
        if (size <= 0)
            return MidiSendResult::sent;

        int error = encoder == nullptr ? -ENOMEM : alsa::buildSequencerEvents (data, size, *encoder, events);
        for (size_t i = 0; error >= 0 && i < events.size(); ++i)
            error = output (events[i]);

        // The kernel drops the connection when its destination port goes, and from then on takes
        // every event without complaint and delivers it to nobody: ask whether the connection is
        // still there after the write, so that a piece that reached no one is not taken as sent.
        if (!isConnected())
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

    bool isConnected()
    {
        snd_seq_port_subscribe_t* subscription = nullptr;
        snd_seq_port_subscribe_alloca (&subscription);
        snd_seq_addr_t sender{ (unsigned char) snd_seq_client_id (seq), (unsigned char) port };
        snd_seq_addr_t destination{ (unsigned char) destinationClient, (unsigned char) destinationPort };
        snd_seq_port_subscribe_set_sender (subscription, &sender);
        snd_seq_port_subscribe_set_dest (subscription, &destination);
        return snd_seq_get_port_subscription (seq, subscription) == 0;
    }

    // A receiver whose buffer is full makes the kernel refuse the event rather than wait: try again
    // for a while instead of losing a piece of firmware, unless the sending thread is being stopped.
    int output (snd_seq_event_t& event)
    {
        snd_seq_ev_set_source (&event, (unsigned char) port);
        snd_seq_ev_set_subs (&event);
        snd_seq_ev_set_direct (&event);

        int error = 0;
        for (int attempt = 0; attempt < fullReceiverRetries; ++attempt)
        {
            error = snd_seq_event_output_direct (seq, &event);
            if (error >= 0 || (error != -EAGAIN && error != -ENOMEM) || juce::Thread::currentThreadShouldExit())
                return error;
            juce::Thread::sleep (1);
        }
        return error;
    }

    snd_seq_t* const seq;
    const int port;
    const int destinationClient, destinationPort;
    const juce::String listedName;
    snd_midi_event_t* encoder = nullptr;
    std::vector<snd_seq_event_t> events;
    bool failureLogged = false;
};
} // namespace

std::unique_ptr<MidiOutputConnection> openAlsaSequencerOutput (const juce::String& identifier,
                                                               const juce::String& listedName)
{
    // JUCE lists ALSA ports as "client-port".
    const auto clientText = identifier.upToFirstOccurrenceOf ("-", false, false);
    const auto portText = identifier.fromFirstOccurrenceOf ("-", false, false);
    if (clientText.isEmpty() || portText.isEmpty() || !clientText.containsOnly ("0123456789") ||
        !portText.containsOnly ("0123456789") || clientText.length() > 5 || portText.length() > 5)
        return {};

    snd_seq_t* seq = nullptr;
    if (snd_seq_open (&seq, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0)
        return {};

    auto* app = juce::JUCEApplicationBase::getInstance();
    snd_seq_set_client_name (seq, (app != nullptr ? app->getApplicationName() : juce::String ("vfu")).toRawUTF8());

    // Not subscribable: it connects to its one destination itself and never shows in port lists.
    const int port = snd_seq_create_simple_port (seq, listedName.toRawUTF8(), SND_SEQ_PORT_CAP_READ,
                                                 SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    const int destinationClient = clientText.getIntValue(), destinationPort = portText.getIntValue();
    if (port < 0 || snd_seq_connect_to (seq, port, destinationClient, destinationPort) < 0)
    {
        snd_seq_close (seq);
        return {};
    }

    return std::make_unique<AlsaSequencerOutput> (seq, port, destinationClient, destinationPort, listedName);
}
#else
std::unique_ptr<MidiOutputConnection> openAlsaSequencerOutput (const juce::String&, const juce::String&)
{
    return {};
}
#endif
} // namespace vfu
