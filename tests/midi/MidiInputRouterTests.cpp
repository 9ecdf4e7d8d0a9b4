#include "midi/MidiInputRouter.h"

#include <gtest/gtest.h>

#include <vector>

using namespace vfu;

namespace
{
struct Received
{
    juce::String source;
    std::vector<juce::uint8> bytes;
};

struct KeepingReceiver final : public MidiReceiver
{
    void handleIncomingMidi (const juce::String& sourceName, const juce::MidiMessage& message) override
    {
        messages.push_back ({ sourceName, { message.getRawData(), message.getRawData() + message.getRawDataSize() } });
    }
    std::vector<Received> messages;
};

void deliver (MidiInputRouter& router, int source, std::initializer_list<int> values)
{
    std::vector<juce::uint8> raw;
    for (auto v : values)
        raw.push_back ((juce::uint8) v);
    router.deliver (source, raw.data(), (int) raw.size());
}

using Bytes = std::vector<juce::uint8>;
} // namespace

// Two instruments reply at once, each SysEx message in pieces as the sequencer may deliver it: each
// input gets its own instrument's messages whole, under its listed name, and nothing of the other.
TEST (MidiInputRouter, joins_sysex_pieces_per_source_and_attributes_them_to_its_inputs)
{
    MidiInputRouter router;
    KeepingReceiver first, second;
    const int a = router.add (20 * 256, first, "Quillbox");
    const int b = router.add (21 * 256, second, "Quillbox (2)");
    router.setStarted (a, true);
    router.setStarted (b, true);

    deliver (router, 20 * 256, { 0xF0, 0x7E, 0x7F });
    deliver (router, 21 * 256, { 0xF0, 0x01 });
    deliver (router, 20 * 256, { 0x06, 0x02, 0xF7, 0x90, 0x3C });
    deliver (router, 21 * 256, { 0x02, 0xF7 });
    deliver (router, 20 * 256, { 0x64 });
    deliver (router, 22 * 256, { 0xF0, 0x05, 0xF7 }); // nobody opened that port

    ASSERT_EQ (first.messages.size(), 2u);
    EXPECT_EQ (first.messages[0].source, "Quillbox");
    EXPECT_EQ (first.messages[0].bytes, (Bytes{ 0xF0, 0x7E, 0x7F, 0x06, 0x02, 0xF7 }));
    EXPECT_EQ (first.messages[1].bytes, (Bytes{ 0x90, 0x3C, 0x64 }));
    ASSERT_EQ (second.messages.size(), 1u);
    EXPECT_EQ (second.messages[0].source, "Quillbox (2)");
    EXPECT_EQ (second.messages[0].bytes, (Bytes{ 0xF0, 0x01, 0x02, 0xF7 }));
}

// Only started inputs receive; two inputs on one port each get the message under their own name;
// a removed input gets nothing more, and the piece of a message it left unfinished does not reach
// an input opened on that port later.
TEST (MidiInputRouter, delivers_only_between_start_and_stop_and_never_after_removal)
{
    MidiInputRouter router;
    KeepingReceiver receiver, other;
    const int input = router.add (30 * 256 + 1, receiver, "Lumostrel");

    deliver (router, 30 * 256 + 1, { 0xF0, 0x10, 0xF7 });
    EXPECT_TRUE (receiver.messages.empty());

    router.setStarted (input, true);
    const int twin = router.add (30 * 256 + 1, other, "Second");
    deliver (router, 30 * 256 + 1, { 0xF0, 0x11, 0xF7 });
    ASSERT_EQ (receiver.messages.size(), 1u);
    EXPECT_TRUE (other.messages.empty());

    router.setStarted (twin, true);
    deliver (router, 30 * 256 + 1, { 0xF8 });
    ASSERT_EQ (receiver.messages.size(), 2u);
    ASSERT_EQ (other.messages.size(), 1u);
    EXPECT_EQ (other.messages[0].source, "Second");

    router.setStarted (input, false);
    router.remove (twin);
    deliver (router, 30 * 256 + 1, { 0xF0, 0x12, 0xF7 });
    EXPECT_EQ (receiver.messages.size(), 2u);
    EXPECT_EQ (other.messages.size(), 1u);

    deliver (router, 30 * 256 + 1, { 0xF0, 0x13, 0x14 }); // unfinished
    router.remove (input);
    deliver (router, 30 * 256 + 1, { 0xF7 });
    EXPECT_EQ (receiver.messages.size(), 2u);

    KeepingReceiver later;
    router.setStarted (router.add (30 * 256 + 1, later, "Lumostrel"), true);
    deliver (router, 30 * 256 + 1, { 0x15, 0xF7, 0xF0, 0x16, 0xF7 });
    ASSERT_EQ (later.messages.size(), 1u);
    EXPECT_EQ (later.messages[0].bytes, (Bytes{ 0xF0, 0x16, 0xF7 }));
}
