#include "simulation/RawMidiPortPublisher.h"

#include "simulation/RawMidiReader.h"

#if JUCE_LINUX
#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#endif

namespace vfu::simulation
{
#if JUCE_LINUX
namespace
{
// Replies are a few bytes: a device that takes none of one for this long is not draining at all.
constexpr int writeTimeoutMs = 1000;

std::vector<pollfd> pollDescriptorsOf (snd_rawmidi_t* handle)
{
    const int count = snd_rawmidi_poll_descriptors_count (handle);
    std::vector<pollfd> descriptors ((size_t) juce::jmax (0, count));
    if (count > 0)
        snd_rawmidi_poll_descriptors (handle, descriptors.data(), (unsigned int) count);
    return descriptors;
}

// The open device: its reader passes what arrives to the receiver, `send` writes replies.
class RawMidiPorts final : public PortPublisher::Ports
{
public:
    RawMidiPorts (snd_rawmidi_t* in, snd_rawmidi_t* out, PortPublisher::Receiver& receiver, const juce::String& name)
        : input (in), output (out), device (name),
          reader (
              pollDescriptorsOf (in),
              [in] (juce::uint8* buffer, size_t size) { return (long) snd_rawmidi_read (in, buffer, size); }, receiver,
              [this] (const juce::String& why) { report ("reading stopped: " + why); })
    {
        reader.start();
    }

    ~RawMidiPorts() override
    {
        reader.stop();
        snd_rawmidi_close (input);

        std::lock_guard<std::mutex> guard (outputLock);
        snd_rawmidi_close (output);
    }

    void send (const juce::MidiMessage& message) override
    {
        std::lock_guard<std::mutex> guard (outputLock);
        const auto* data = message.getRawData();
        size_t remaining = (size_t) juce::jmax (0, message.getRawDataSize());
        const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) writeTimeoutMs;

        while (remaining > 0)
        {
            const auto written = snd_rawmidi_write (output, data, remaining);
            if (written > 0)
            {
                data += written;
                remaining -= (size_t) written;
                continue;
            }

            const auto now = juce::Time::getMillisecondCounter();
            if (written < 0 && written != -EAGAIN)
            {
                report (juce::String ("a reply could not be written: ") + snd_strerror ((int) written));
                return;
            }
            if (now >= deadline)
            {
                report ("a reply could not be written: the device took none of it for a second");
                return;
            }

            // The device's output buffer is full: wait until it has room.
            auto descriptors = pollDescriptorsOf (output);
            poll (descriptors.data(), (nfds_t) descriptors.size(), (int) (deadline - now));
        }
    }

private:
    // On standard error, once per opening: the simulator's standard output stays its event lines.
    void report (const juce::String& what)
    {
        if (!reported.exchange (true))
            std::fprintf (stderr, "rawmidi device %s: %s\n", device.toRawUTF8(), what.toRawUTF8());
    }

    snd_rawmidi_t* const input;
    snd_rawmidi_t* const output;
    const juce::String device;
    std::mutex outputLock; // guards writes to `output`
    std::atomic<bool> reported{ false };
    RawMidiReader reader; // last: stopped before anything it uses goes

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RawMidiPorts)
};
} // namespace
#endif

RawMidiPortPublisher::RawMidiPortPublisher (const juce::String& deviceName) : device (deviceName) {}

RawMidiPortPublisher::~RawMidiPortPublisher() = default;

std::unique_ptr<PortPublisher::Ports> RawMidiPortPublisher::publish (const juce::String&, Receiver& receiver,
                                                                     juce::String& problem)
{
#if JUCE_LINUX
    snd_rawmidi_t* input = nullptr;
    snd_rawmidi_t* output = nullptr;
    // Non-blocking, so that neither the opening nor a read can hang on a device that does not answer.
    const int error = snd_rawmidi_open (&input, &output, device.toRawUTF8(), SND_RAWMIDI_NONBLOCK);
    if (error < 0)
    {
        problem = "cannot open the rawmidi device " + device.quoted() + ": " + snd_strerror (error);
        return {};
    }

    // The kernel passes the port's events on to an input only once it has been read from: read
    // now, so that nothing sent once the ports are reported open is dropped before the reader runs.
    juce::uint8 first[1];
    if (snd_rawmidi_read (input, first, sizeof (first)) == 1)
        receiver.bytesReceived (first, 1);

    return std::make_unique<RawMidiPorts> (input, output, receiver, device);
#else
    juce::ignoreUnused (receiver);
    problem = "rawmidi devices (" + device + ") are not available on this system";
    return {};
#endif
}
} // namespace vfu::simulation
