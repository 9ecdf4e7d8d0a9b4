#include "midi/native/alsa/AlsaSequencerConnection.h"

#include <gtest/gtest.h>

#if JUCE_LINUX
using namespace vfu;
using alsa::PortAddress;
using alsa::SequencerConnection;

namespace
{
struct NoReceiver final : public MidiReceiver
{
    void handleIncomingMidi (const juce::String&, const juce::MidiMessage&) override {}
};
} // namespace

// Without a MIDI system the updater lists ports every few milliseconds: the sequencer is tried at
// most once a second, whatever asks for it, and every caller in between hears the same reason.
TEST (AlsaSequencerConnection, a_missing_sequencer_is_tried_again_at_most_once_a_second)
{
    juce::uint32 time = 4294966000u; // the millisecond counter wraps during the test
    int opens = 0;
    SequencerConnection connection (
        [&opens] (snd_seq_t**)
        {
            ++opens;
            return -ENOENT;
        },
        [&time] { return time; });

    juce::String problem;
    EXPECT_FALSE (connection.ensureOpen (problem));
    EXPECT_EQ (problem, "the ALSA sequencer cannot be opened: " + juce::String (snd_strerror (-ENOENT)));

    NoReceiver receiver;
    juce::uint64 generation = 0;
    for (int i = 0; i < 50; ++i)
    {
        time += 19;
        juce::String again;
        EXPECT_FALSE (connection.ensureOpen (again));
        EXPECT_EQ (again, problem);
        EXPECT_TRUE (connection.listPorts (true).isEmpty());
        EXPECT_EQ (connection.openInput ({ 20, 0 }, receiver, "Quillbox"), -1);
        EXPECT_FALSE (connection.openOutput ({ 20, 0 }, generation));
        EXPECT_TRUE (connection.otherProgramsConnectedTo ("20-0", "20-0").isEmpty());
    }
    EXPECT_EQ (opens, 1); // 950 ms later

    time += 50;
    EXPECT_FALSE (connection.ensureOpen (problem));
    EXPECT_EQ (opens, 2);
    EXPECT_EQ (connection.getOpenAttempts(), 2);
}

TEST (AlsaSequencerConnection, identifiers_are_read_as_sequencer_addresses_or_refused)
{
    PortAddress address;
    ASSERT_TRUE (PortAddress::parse ("128-3", address));
    EXPECT_EQ (address.client, 128);
    EXPECT_EQ (address.port, 3);
    EXPECT_NE (address.key(), (PortAddress{ 129, 2 }.key()));

    for (auto bad : { "", "20", "20-", "-0", "x-0", "20-0-1", "256-0", "20-256", "-1-0", "99999999999-0", "20 - 0" })
        EXPECT_FALSE (PortAddress::parse (bad, address)) << bad;
}
#endif
