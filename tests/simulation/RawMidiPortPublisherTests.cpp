// The simulator behind a kernel rawmidi device: its reader thread (on a pipe standing in for the
// device) and the refusal of a device that cannot be opened.
#include "simulation/RawMidiPortPublisher.h"
#include "simulation/RawMidiReader.h"

#include <gtest/gtest.h>

#if JUCE_LINUX
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

using namespace vfu::simulation;

namespace
{
struct CollectedBytes final : public PortPublisher::Receiver
{
    void bytesReceived (const juce::uint8* data, int size) override
    {
        std::lock_guard<std::mutex> guard (lock);
        bytes.insert (bytes.end(), data, data + size);
    }

    std::vector<juce::uint8> get()
    {
        std::lock_guard<std::mutex> guard (lock);
        return bytes;
    }

    std::mutex lock;
    std::vector<juce::uint8> bytes;
};

// A non-blocking pipe: its read end behaves as a rawmidi input does (poll, then -EAGAIN when empty).
struct Pipe
{
    Pipe() { EXPECT_EQ (pipe2 (ends, O_NONBLOCK), 0); }
    ~Pipe()
    {
        closeWriter();
        if (ends[0] >= 0)
            close (ends[0]);
    }

    void write (std::initializer_list<juce::uint8> bytes)
    {
        const std::vector<juce::uint8> data (bytes);
        EXPECT_EQ (::write (ends[1], data.data(), data.size()), (ssize_t) data.size());
    }

    void closeWriter()
    {
        if (ends[1] >= 0)
            close (ends[1]);
        ends[1] = -1;
    }

    std::vector<pollfd> descriptors() const { return { pollfd{ ends[0], POLLIN, 0 } }; }

    RawMidiReader::ReadFunction readFunction() const
    {
        return [fd = ends[0]] (juce::uint8* buffer, size_t size)
        {
            const auto count = ::read (fd, buffer, size);
            return count < 0 ? -(long) errno : (long) count;
        };
    }

    int ends[2] = { -1, -1 };
};

bool eventually (std::function<bool()> condition)
{
    const auto end = juce::Time::getMillisecondCounter() + 10000;
    while (!condition())
    {
        if (juce::Time::getMillisecondCounter() > end)
            return false;
        juce::Thread::sleep (2);
    }
    return true;
}
} // namespace

TEST (RawMidiReader, passes_bytes_on_in_order_as_they_arrive_and_stops_within_its_time_out_while_waiting)
{
    Pipe device;
    CollectedBytes received;
    std::atomic<int> failures{ 0 };
    RawMidiReader reader (device.descriptors(), device.readFunction(), received,
                          [&] (const juce::String&) { ++failures; });
    reader.start();

    // An identity request cut in two, as a kernel buffer may hand it over.
    device.write ({ 0xF0, 0x7E, 0x7F });
    device.write ({ 0x06, 0x01, 0xF7 });
    const std::vector<juce::uint8> expected{ 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 };
    EXPECT_TRUE (eventually ([&] { return received.get() == expected; }));

    // Nothing more arrives: the reader sits in its poll and must still end on request, not be killed.
    juce::Thread::sleep (3 * RawMidiReader::pollMs);
    EXPECT_TRUE (reader.stop());
    EXPECT_FALSE (reader.hasFailed());
    EXPECT_EQ (failures.load(), 0);
}

TEST (RawMidiReader, a_device_that_goes_away_ends_reading_with_one_report_after_what_it_still_held)
{
    Pipe device;
    CollectedBytes received;
    std::atomic<int> failures{ 0 };
    RawMidiReader reader (device.descriptors(), device.readFunction(), received,
                          [&] (const juce::String&) { ++failures; });
    reader.start();

    device.write ({ 0xF0, 0x00, 0x20 });
    device.closeWriter(); // the reader now sees a hang-up, which must end it rather than spin

    EXPECT_TRUE (eventually ([&] { return reader.hasFailed(); }));
    EXPECT_EQ (received.get(), (std::vector<juce::uint8>{ 0xF0, 0x00, 0x20 }));
    EXPECT_TRUE (reader.stop());
    EXPECT_EQ (failures.load(), 1);
}

TEST (RawMidiPortPublisher, refuses_a_device_that_cannot_be_opened_naming_it_and_the_reason)
{
    RawMidiPortPublisher publisher ("hw:97,0");
    CollectedBytes received;
    juce::String problem;
    EXPECT_EQ (publisher.publish ("Quillbox", received, problem), nullptr);
    EXPECT_TRUE (problem.startsWith ("cannot open the rawmidi device \"hw:97,0\": ")) << problem;
    EXPECT_GT (problem.length(), juce::String ("cannot open the rawmidi device \"hw:97,0\": ").length()) << problem;
}
#endif
