#pragma once

#include "simulation/PortPublisher.h"

#if JUCE_LINUX
#include <poll.h>

#include <atomic>
#include <functional>
#include <vector>

namespace vfu::simulation
{
// The input side of a rawmidi device: a thread that waits on the device's poll descriptors and
// passes what it reads to the receiver as it arrives. It waits with a short time-out instead of a
// blocking read, so that `stop` ends it within one poll interval whatever the device does.
class RawMidiReader final : private juce::Thread
{
public:
    // Reads at most `size` bytes without blocking: the count, 0 or -EAGAIN when nothing is there,
    // or another negative error code.
    using ReadFunction = std::function<long (juce::uint8* buffer, size_t size)>;
    // Called once, on the reader's thread, when reading ends because of the device.
    using FailureFunction = std::function<void (const juce::String& why)>;

    RawMidiReader (std::vector<pollfd> descriptors, ReadFunction read, PortPublisher::Receiver& receiver,
                   FailureFunction onFailure);
    ~RawMidiReader() override;

    void start();
    // Waits for the thread to end; true when it did within its time-out.
    bool stop();

    // True once reading has ended because of an error or a device that went away.
    bool hasFailed() const noexcept { return failed; }

    static constexpr int pollMs = 50;

private:
    void run() override;
    bool readAvailable();
    void fail (const juce::String& why);

    std::vector<pollfd> descriptors; // reader thread only, once started
    const ReadFunction read;
    PortPublisher::Receiver& receiver;
    const FailureFunction onFailure;
    std::atomic<bool> failed{ false };
    juce::uint8 buffer[1024]; // reader thread only

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RawMidiReader)
};
} // namespace vfu::simulation
#endif
