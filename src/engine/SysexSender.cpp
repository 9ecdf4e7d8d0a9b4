#include "engine/SysexSender.h"

#include "core/Clock.h"

namespace vfu
{
SysexSender::SysexSender (std::shared_ptr<const Transfer> transferToSend, float waitTimeToUse, int packetSizeToUse,
                          Clock& clockToUse)
    : juce::Thread ("SysexSender"), transfer (std::move (transferToSend)), waitTime (waitTimeToUse),
      packetSize (juce::jmax (1, packetSizeToUse)), clock (clockToUse)
{
    startThread();
}

SysexSender::~SysexSender()
{
    // Never a forced stop: owners only delete a sender whose thread has ended (stopAndRelease and
    // its reaper make sure of that).
    signalThreadShouldExit();
    notify();
    waitForThreadToExit (-1);
}

void SysexSender::run()
{
    const auto* data = static_cast<const juce::uint8*> (transfer->image.getData());
    auto remaining = (int) juce::jmin<size_t> (transfer->image.getSize(), (size_t) std::numeric_limits<int>::max());
    int position = 0;

    while (remaining > 0)
    {
        const int n = getPacketLength (remaining, packetSize);

        // A packet that did not go out ends the transfer uncounted: the image on the instrument
        // would have a hole in it.
        const auto result = transfer->output != nullptr
                                ? transfer->output->sendMessageNow (juce::MidiMessage (data + position, n, 0.0))
                                : MidiSendResult::refused;
        if (result != MidiSendResult::sent)
        {
            sendFailure = result;
            break;
        }

        // A stop skips the pause: the sender must not touch the clock once its owner gave up on it.
        if (!threadShouldExit())
            clock.sleepUnlessThreadExits (getPauseMilliseconds (n, waitTime));

        bytesSent += (juce::uint32) n;
        progressEvent.signal();

        if (threadShouldExit())
            break;

        remaining -= n;
        position += packetSize;
    }

    finished = true;
    progressEvent.signal();
}

bool SysexSender::waitForProgress (int milliseconds)
{
    return progressEvent.wait (milliseconds);
}

bool SysexSender::stopAndRelease (std::unique_ptr<SysexSender> sender, int timeoutMilliseconds)
{
    if (sender == nullptr)
        return true;

    sender->signalThreadShouldExit();
    sender->notify(); // ends a pause at once

    if (sender->waitForThreadToExit (timeoutMilliseconds))
        return true; // deleted here, its thread has ended

    // The output blocks: let a reaper wait for the end, however long it takes, and delete the
    // sender (with the image and output it holds) only then.
    std::shared_ptr<SysexSender> stuck (sender.release());
    if (!juce::Thread::launch ([stuck] { stuck->waitForThreadToExit (-1); }))
    {
        // No thread for the reaper: keep the sender alive for the rest of the process.
        new std::shared_ptr<SysexSender> (stuck);
    }

    return false;
}

int SysexSender::getPacketLength (int remaining, int packetSizeToUse) noexcept
{
    return remaining - packetSizeToUse < packetSizeToUse ? remaining : packetSizeToUse;
}

int SysexSender::getPauseMilliseconds (int n, float waitTimeToUse) noexcept
{
    return (int) ((float) (int) ((float) n * 0.384f) + waitTimeToUse);
}

juce::int64 SysexSender::getTotalPauseMilliseconds (int imageSize, int packetSizeToUse, float waitTimeToUse) noexcept
{
    juce::int64 total = 0;
    packetSizeToUse = juce::jmax (1, packetSizeToUse);

    for (int remaining = imageSize; remaining > 0;)
    {
        const int n = getPacketLength (remaining, packetSizeToUse);
        total += getPauseMilliseconds (n, waitTimeToUse);
        remaining -= n;
    }

    return total;
}
} // namespace vfu
