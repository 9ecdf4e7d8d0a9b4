#include "midi/native/alsa/AlsaSequencerEvents.h"

#if JUCE_LINUX
// ALSA's event macros assign negated flag masks to byte fields.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wsign-conversion"
#endif

namespace vfu::alsa
{
bool isSysExPiece (const juce::uint8* data, int size) noexcept
{
    return size > 0 && (data[0] == 0xF0 || data[0] == 0xF7 || data[0] < 0x80);
}

int buildSequencerEvents (const juce::uint8* data, int size, snd_midi_event_t& encoder,
                          std::vector<snd_seq_event_t>& events)
{
    events.clear();

    if (isSysExPiece (data, size))
    {
        for (int position = 0; position < size; position += maximumSysExEventBytes)
        {
            snd_seq_event_t event;
            snd_seq_ev_clear (&event);
            snd_seq_ev_set_sysex (&event, (unsigned int) juce::jmin (maximumSysExEventBytes, size - position),
                                  const_cast<juce::uint8*> (data + position));
            events.push_back (event);
        }
        return 0;
    }

    snd_midi_event_reset_encode (&encoder);
    long remaining = size;
    while (remaining > 0)
    {
        snd_seq_event_t event;
        snd_seq_ev_clear (&event);
        const long used = snd_midi_event_encode (&encoder, data, remaining, &event);
        if (used <= 0)
            return used < 0 ? (int) used : -EINVAL;

        data += used;
        remaining -= used;

        if (event.type != SND_SEQ_EVENT_NONE)
            events.push_back (event);
    }
    return 0;
}
} // namespace vfu::alsa
#endif
