// The SysexSender: packet cutting, pacing, counters, stopping, and a blocked output.
#include "EngineTestSupport.h"

#include "engine/SysexSender.h"

#include <gtest/gtest.h>

using vfu::MidiSendResult;
using vfu::SysexSender;

namespace
{
std::vector<int> packetLengths (int imageSize, int packetSize)
{
    std::vector<int> lengths;
    for (int remaining = imageSize; remaining > 0;)
    {
        lengths.push_back (SysexSender::getPacketLength (remaining, packetSize));
        remaining -= lengths.back();
    }
    return lengths;
}

juce::MemoryBlock makeImage (int size)
{
    juce::MemoryBlock image ((size_t) size);
    for (int i = 0; i < size; ++i)
        image[i] = (char) (i % 0x7f);
    if (size > 0)
    {
        image[0] = (char) 0xf0;
        image[size - 1] = (char) 0xf7;
    }
    return image;
}

// Records packets; optionally blocks every send until released; notes when it is destroyed.
class TestOutput final : public vfu::MidiOutputConnection
{
public:
    struct Shared
    {
        std::mutex lock;
        std::vector<int> packetLengths;
        juce::MemoryBlock bytes;
        std::atomic<bool> blocking{ false };
        std::atomic<int> refuseFromPacket{ -1 }; // the first packet answered `refused`, -1 for none
        juce::WaitableEvent release{ true };
        std::atomic<bool> destroyed{ false };
        std::atomic<bool> destroyedOnTestThread{ false };
    };

    explicit TestOutput (std::shared_ptr<Shared> s) : shared (std::move (s)) {}

    ~TestOutput() override
    {
        shared->destroyedOnTestThread = juce::MessageManager::getInstance()->isThisTheMessageThread();
        shared->destroyed = true;
    }

    vfu::MidiSendResult sendMessageNow (const juce::MidiMessage& message) override
    {
        if (shared->blocking)
            shared->release.wait (-1);

        const std::lock_guard<std::mutex> sl (shared->lock);
        if (shared->refuseFromPacket >= 0 && (int) shared->packetLengths.size() >= shared->refuseFromPacket)
            return vfu::MidiSendResult::refused;
        shared->packetLengths.push_back (message.getRawDataSize());
        shared->bytes.append (message.getRawData(), (size_t) message.getRawDataSize());
        return vfu::MidiSendResult::sent;
    }

    juce::String getName() const override { return "test output"; }

private:
    std::shared_ptr<Shared> shared;
};

std::shared_ptr<SysexSender::Transfer> makeTransfer (const std::shared_ptr<TestOutput::Shared>& shared, int imageSize)
{
    auto transfer = std::make_shared<SysexSender::Transfer>();
    transfer->output = std::make_unique<TestOutput> (shared);
    transfer->image = makeImage (imageSize);
    return transfer;
}
} // namespace

TEST (SysexSenderPackets, cuts_images_so_that_the_last_packet_takes_the_tail)
{
    EXPECT_EQ (packetLengths (300, 256), std::vector<int> ({ 300 }));
    EXPECT_EQ (packetLengths (511, 256), std::vector<int> ({ 511 }));
    EXPECT_EQ (packetLengths (512, 256), std::vector<int> ({ 256, 256 }));
    EXPECT_EQ (packetLengths (513, 256), std::vector<int> ({ 256, 257 }));
    EXPECT_EQ (packetLengths (100, 32), std::vector<int> ({ 32, 32, 36 }));
    EXPECT_EQ (packetLengths (10, 256), std::vector<int> ({ 10 }));
    EXPECT_TRUE (packetLengths (0, 256).empty());

    const auto delivered = packetLengths (359267, 256);
    ASSERT_EQ (delivered.size(), 1403u);
    EXPECT_EQ (std::count (delivered.begin(), delivered.end(), 256), 1402);
    EXPECT_EQ (delivered.back(), 355);
}

TEST (SysexSenderPackets, pauses_98_ms_per_256_byte_packet_whatever_the_wait_time)
{
    for (float waitTime : { 0.082f, 0.02f, 0.5f })
        EXPECT_EQ (SysexSender::getPauseMilliseconds (256, waitTime), 98) << waitTime;

    EXPECT_EQ (SysexSender::getPauseMilliseconds (355, 0.082f), 136);
    EXPECT_EQ (SysexSender::getPauseMilliseconds (32, 0.5f), 12);
    // The wait time counts as whole milliseconds once it reaches one.
    EXPECT_EQ (SysexSender::getPauseMilliseconds (256, 2.7f), 100);
    EXPECT_EQ (SysexSender::getTotalPauseMilliseconds (359267, 256, 0.082f), 137532);
}

TEST (SysexSenderRun, sends_the_whole_image_unchanged_and_counts_every_byte)
{
    vfu::ScaledClock clock (1000.0);
    auto shared = std::make_shared<TestOutput::Shared>();
    auto transfer = makeTransfer (shared, 1000);

    auto sender = std::make_unique<SysexSender> (transfer, 0.082f, 256, clock);
    ASSERT_TRUE (vfu::test::runMessageLoopUntil ([&] { return sender->isFinished(); }, 20000));
    EXPECT_EQ (sender->getBytesSent(), 1000u);
    EXPECT_TRUE (SysexSender::stopAndRelease (std::move (sender), 4000));

    EXPECT_EQ (shared->packetLengths, std::vector<int> ({ 256, 256, 488 }));
    EXPECT_EQ (shared->bytes, transfer->image);
    EXPECT_EQ ((juce::uint8) shared->bytes[0], 0xf0);
}

TEST (SysexSenderRun, an_empty_image_sends_nothing_and_finishes)
{
    vfu::ScaledClock clock (1000.0);
    auto shared = std::make_shared<TestOutput::Shared>();
    auto sender = std::make_unique<SysexSender> (makeTransfer (shared, 0), 0.5f, 256, clock);

    ASSERT_TRUE (vfu::test::runMessageLoopUntil ([&] { return sender->isFinished(); }, 5000));
    EXPECT_EQ (sender->getBytesSent(), 0u);
    EXPECT_TRUE (SysexSender::stopAndRelease (std::move (sender), 4000));
    EXPECT_TRUE (shared->packetLengths.empty());
}

TEST (SysexSenderRun, a_stop_ends_the_transfer_after_the_packet_in_flight)
{
    vfu::ScaledClock clock (1.0);
    auto shared = std::make_shared<TestOutput::Shared>();
    auto sender = std::make_unique<SysexSender> (makeTransfer (shared, 100000), 0.5f, 256, clock);
    ASSERT_TRUE (vfu::test::runMessageLoopUntil ([&] { return sender->getBytesSent() > 0; }, 5000));

    const auto start = juce::Time::getMillisecondCounter();
    EXPECT_TRUE (SysexSender::stopAndRelease (std::move (sender), 4000));
    EXPECT_LT (juce::Time::getMillisecondCounter() - start, 1000u);

    const std::lock_guard<std::mutex> sl (shared->lock);
    EXPECT_LT (shared->bytes.getSize(), 100000u);
}

TEST (SysexSenderRun, a_sender_blocked_in_its_output_keeps_image_and_output_alive_until_its_thread_ends)
{
    vfu::ScaledClock clock (1000.0);
    auto shared = std::make_shared<TestOutput::Shared>();
    shared->blocking = true;

    std::weak_ptr<SysexSender::Transfer> watched;
    {
        auto transfer = makeTransfer (shared, 2000);
        watched = transfer;
        auto sender = std::make_unique<SysexSender> (transfer, 0.5f, 256, clock);
        transfer.reset();

        juce::Thread::sleep (50);
        EXPECT_FALSE (SysexSender::stopAndRelease (std::move (sender), 200));
    }

    // The engine has let go; the sender still holds the image and the output.
    EXPECT_FALSE (watched.expired());
    EXPECT_FALSE (shared->destroyed);

    shared->release.signal();
    EXPECT_TRUE (vfu::test::runMessageLoopUntil ([&] { return shared->destroyed.load(); }, 10000));
    EXPECT_TRUE (watched.expired());
    EXPECT_FALSE (shared->destroyedOnTestThread);

    // The packet in flight was the only one: the stop took effect once the send returned.
    EXPECT_EQ (shared->packetLengths.size(), 1u);
}

TEST (SysexSenderRun, a_packet_that_is_not_sent_ends_the_transfer_and_is_not_counted)
{
    vfu::ScaledClock clock (1000.0);
    auto shared = std::make_shared<TestOutput::Shared>();
    shared->refuseFromPacket = 2;

    auto sender = std::make_unique<SysexSender> (makeTransfer (shared, 256 * 6), 0.082f, 256, clock);
    ASSERT_TRUE (vfu::test::runMessageLoopUntil ([&] { return sender->isFinished(); }, 20000));
    EXPECT_EQ (sender->getBytesSent(), 512u);
    EXPECT_EQ (sender->getSendFailure(), vfu::MidiSendResult::refused);
    EXPECT_TRUE (SysexSender::stopAndRelease (std::move (sender), 4000));
    EXPECT_EQ (shared->packetLengths.size(), 2u); // nothing after the refused one
}
