#include "midi/AlsaSequencerOutput.h"

#include "core/Log.h"

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
// Kept well below the size at which the kernel refuses an event for a user-space receiver.
constexpr int maximumEventBytes = 4096;

// About half a second of retries for a receiver that is momentarily full.
constexpr int fullReceiverRetries = 500;

class AlsaSequencerOutput final : public MidiOutputConnection
{
public:
    AlsaSequencerOutput (snd_seq_t* s, int p, const juce::String& name) : seq (s), port (p), listedName (name)
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

        // A piece of SysEx: it starts with F0, or with a data byte (the middle or end of one).
        const bool sysExPiece = data[0] == 0xF0 || data[0] < 0x80;
        const int error = sysExPiece ? sendSysEx (data, size) : sendEncoded (data, size);

        if (error < 0 && !failureLogged)
        {
            failureLogged = true;
            writeLog ("MIDI output [" + listedName + "] : a message could not be sent (" +
                      juce::String (snd_strerror (error)) + ")");
        }
        return error < 0 ? MidiSendResult::refused : MidiSendResult::sent;
    }

    juce::String getName() const override { return listedName; }

private:
    int sendSysEx (const juce::uint8* data, int size)
    {
        for (int position = 0; position < size; position += maximumEventBytes)
        {
            snd_seq_event_t event;
            snd_seq_ev_clear (&event);
            snd_seq_ev_set_source (&event, (unsigned char) port);
            snd_seq_ev_set_subs (&event);
            snd_seq_ev_set_direct (&event);
            snd_seq_ev_set_sysex (&event, (unsigned int) juce::jmin (maximumEventBytes, size - position),
                                  const_cast<juce::uint8*> (data + position));

            if (const int error = output (event); error < 0)
                return error;
        }
        return 0;
    }

    // A receiver whose buffer is full makes the kernel refuse the event rather than wait: try again
    // for a while instead of losing a piece of firmware.
    int output (snd_seq_event_t& event)
    {
        int error = 0;
        for (int attempt = 0; attempt < fullReceiverRetries; ++attempt)
        {
            error = snd_seq_event_output_direct (seq, &event);
            if (error >= 0 || (error != -EAGAIN && error != -ENOMEM))
                return error;
            juce::Thread::sleep (1);
        }
        return error;
    }

    int sendEncoded (const juce::uint8* data, int size)
    {
        if (encoder == nullptr)
            return -ENOMEM;

        snd_midi_event_reset_encode (encoder);
        long remaining = size;
        while (remaining > 0)
        {
            snd_seq_event_t event;
            snd_seq_ev_clear (&event);
            const long used = snd_midi_event_encode (encoder, data, remaining, &event);
            if (used <= 0)
                return (int) used;

            data += used;
            remaining -= used;

            if (event.type == SND_SEQ_EVENT_NONE)
                continue;

            snd_seq_ev_set_source (&event, (unsigned char) port);
            snd_seq_ev_set_subs (&event);
            snd_seq_ev_set_direct (&event);
            if (const int error = output (event); error < 0)
                return error;
        }
        return 0;
    }

    snd_seq_t* const seq;
    const int port;
    const juce::String listedName;
    snd_midi_event_t* encoder = nullptr;
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
    if (port < 0 || snd_seq_connect_to (seq, port, clientText.getIntValue(), portText.getIntValue()) < 0)
    {
        snd_seq_close (seq);
        return {};
    }

    return std::make_unique<AlsaSequencerOutput> (seq, port, listedName);
}
#else
std::unique_ptr<MidiOutputConnection> openAlsaSequencerOutput (const juce::String&, const juce::String&)
{
    return {};
}
#endif
} // namespace vfu
