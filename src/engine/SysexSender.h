#pragma once

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_core/juce_core.h>

#include "midi/MidiLayer.h"

#include <atomic>
#include <memory>

namespace vfu
{
class Clock;

// Sends one firmware image as a paced stream of SysEx packets on a thread of its own, so that the
// engine thread can watch the ports and report progress meanwhile.
//
// The image and the opened output are held in a shared Transfer: the engine keeps one reference
// and the sender another. Normally the engine stops the sender and then releases both. When an
// output blocks for good and the sender does not stop in time, stopAndRelease hands the sender to a
// small reaper thread that waits for it to end and only then deletes it, so the image and the
// output stay alive exactly as long as the sender can still touch them, and nobody has to kill a
// thread.
class SysexSender final : public juce::Thread
{
public:
    struct Transfer
    {
        std::unique_ptr<MidiOutputConnection> output;
        juce::MemoryBlock image;
    };

    // Starts sending at once. The clock must outlive the sender while it paces its packets; a
    // sender that has been asked to stop no longer touches the clock.
    SysexSender (std::shared_ptr<const Transfer> transfer, float waitTime, int packetSize, Clock& clock);

    // Waits for the thread to end; owners call stopAndRelease instead.
    ~SysexSender() override;

    void run() override;

    // Bytes handed to the output so far (after each packet's pause).
    juce::uint32 getBytesSent() const noexcept { return bytesSent.load(); }

    // True once the sending loop has ended, for whatever reason.
    bool isFinished() const noexcept { return finished.load(); }

    // What became of the first packet that was not sent (the loop ended there without counting
    // it), or `sent` while every packet so far was sent.
    MidiSendResult getSendFailure() const noexcept { return sendFailure.load(); }

    // Waits at most the given real milliseconds for the next packet or the end; true when one came.
    bool waitForProgress (int milliseconds);

    // Asks the sender to stop and waits up to timeoutMilliseconds (real). True when it ended and
    // was deleted; false when it is still running and was handed to the reaper.
    static bool stopAndRelease (std::unique_ptr<SysexSender> sender, int timeoutMilliseconds);

    // Length of the next packet: the rest when fewer than two full packets are left, so the last
    // packet takes the tail.
    static int getPacketLength (int remaining, int packetSize) noexcept;

    // Pause after a packet of n bytes, in milliseconds: 0.384 ms per byte (1.2 times the MIDI byte
    // time) plus the wait time, in 32-bit floats and truncated twice, as the instruments expect.
    static int getPauseMilliseconds (int n, float waitTime) noexcept;

    // The pauses a whole image takes, in milliseconds.
    static juce::int64 getTotalPauseMilliseconds (int imageSize, int packetSize, float waitTime) noexcept;

private:
    const std::shared_ptr<const Transfer> transfer;
    const float waitTime;
    const int packetSize;
    Clock& clock;

    std::atomic<juce::uint32> bytesSent{ 0 };
    std::atomic<bool> finished{ false };
    std::atomic<MidiSendResult> sendFailure{ MidiSendResult::sent };
    juce::WaitableEvent progressEvent;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SysexSender)
};
} // namespace vfu
