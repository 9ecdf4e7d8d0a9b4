// The sequencer events that the ALSA output sends a message as, built without a sequencer.
#include "midi/native/alsa/AlsaSequencerEvents.h"

#include <gtest/gtest.h>

#if JUCE_LINUX
namespace
{
struct Encoder
{
    Encoder() { snd_midi_event_new (64, &encoder); }
    ~Encoder() { snd_midi_event_free (encoder); }
    snd_midi_event_t* encoder = nullptr;
};

std::vector<juce::uint8> pieceStartingWith (juce::uint8 first, int size)
{
    std::vector<juce::uint8> piece ((size_t) size);
    for (int i = 0; i < size; ++i)
        piece[(size_t) i] = (juce::uint8) (i % 0x7f);
    piece[0] = first;
    return piece;
}

// The bytes that the events carry, in order, when they are all SysEx events.
std::vector<juce::uint8> sysExBytesOf (const std::vector<snd_seq_event_t>& events)
{
    std::vector<juce::uint8> bytes;
    for (auto& event : events)
    {
        EXPECT_EQ (event.type, SND_SEQ_EVENT_SYSEX);
        const auto* data = static_cast<const juce::uint8*> (event.data.ext.ptr);
        bytes.insert (bytes.end(), data, data + event.data.ext.len);
    }
    return bytes;
}
} // namespace

TEST (AlsaSequencerEvents, firmware_pieces_go_out_byte_for_byte_as_sysex_whatever_byte_they_start_with)
{
    Encoder encoder;
    ASSERT_NE (encoder.encoder, nullptr);

    // The start of an image, a piece from its middle, and one that begins with the F7 ending one
    // message of an image (the next message follows in the same piece).
    for (const juce::uint8 first : { 0xF0, 0x12, 0xF7 })
    {
        auto piece = pieceStartingWith (first, 256);
        piece[100] = 0xF7;
        piece[101] = 0xF0;

        std::vector<snd_seq_event_t> events;
        ASSERT_EQ (vfu::alsa::buildSequencerEvents (piece.data(), (int) piece.size(), *encoder.encoder, events), 0);
        EXPECT_EQ (sysExBytesOf (events), piece) << (int) first;
    }
}

TEST (AlsaSequencerEvents, a_long_piece_is_cut_into_events_the_kernel_accepts_and_other_messages_are_encoded)
{
    Encoder encoder;
    ASSERT_NE (encoder.encoder, nullptr);

    // A kernel port's rawmidi buffer is one page and cuts an event that does not fit what is free:
    // every event must fit whole even while most of the buffer still waits to be drained.
    constexpr unsigned int kernelPortBufferBytes = 4096;
    const auto piece = pieceStartingWith (0xF0, 10000);
    std::vector<snd_seq_event_t> events;
    ASSERT_EQ (vfu::alsa::buildSequencerEvents (piece.data(), (int) piece.size(), *encoder.encoder, events), 0);
    ASSERT_EQ (events.size(), 10u);
    for (auto& event : events)
        EXPECT_LE (event.data.ext.len, kernelPortBufferBytes / 4);
    EXPECT_EQ (events[0].data.ext.len, 1024u);
    EXPECT_EQ (events[9].data.ext.len, 10000u - 9 * 1024u);
    EXPECT_EQ (sysExBytesOf (events), piece);

    // A firmware packet stays one event.
    const auto packet = pieceStartingWith (0x12, 256);
    ASSERT_EQ (vfu::alsa::buildSequencerEvents (packet.data(), (int) packet.size(), *encoder.encoder, events), 0);
    EXPECT_EQ (events.size(), 1u);

    const juce::uint8 noteOn[] = { 0x90, 0x3C, 0x40 };
    ASSERT_EQ (vfu::alsa::buildSequencerEvents (noteOn, 3, *encoder.encoder, events), 0);
    ASSERT_EQ (events.size(), 1u);
    EXPECT_EQ (events[0].type, SND_SEQ_EVENT_NOTEON);
    EXPECT_EQ (events[0].data.note.note, 0x3C);
}
#endif
