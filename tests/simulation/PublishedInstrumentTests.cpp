#include "midi/MidiTestSupport.h"
#include "midi/SystemMidiLayer.h"
#include "packages/FirmwareImage.h"
#include "simulation/SimulatorSession.h"

// JUCE's own splitter of incoming MIDI bytes, as its MIDI input threads use it (not part of the
// module's public header).
#include <juce_audio_basics/midi/juce_MidiDataConcatenator.h>

using namespace vfu;
using namespace vfu::simulation;
using vfu::test::pollOnWorker;

namespace
{
bool eventually (std::function<bool()> condition)
{
    const auto end = juce::Time::getMillisecondCounter() + 20000;
    while (!condition())
    {
        if (juce::Time::getMillisecondCounter() > end)
            return false;
        juce::Thread::sleep (2);
    }
    return true;
}

struct CollectedBytes final : public PortPublisher::Receiver
{
    void bytesReceived (const juce::uint8* data, int size) override { bytes.insert (bytes.end(), data, data + size); }
    std::vector<juce::uint8> bytes;
};

// A simulator published on a virtual "system" that an updater's port selector uses through the
// same layer as the app; the simulator prints into `lines`.
struct PublishedSimulator : public ::testing::Test
{
    PublishedSimulator()
    {
        SimulatorSession::Options options;
        options.autoBootloaderMs = 500;
        options.imageSize = imageSize;
        session = std::make_unique<SimulatorSession> (options, clock, publisher,
                                                      [this] (const juce::String& line)
                                                      {
                                                          std::lock_guard<std::mutex> guard (linesLock);
                                                          lines.add (line);
                                                      });
    }

    ~PublishedSimulator() override
    {
        selector = nullptr;
        session = nullptr;
    }

    juce::StringArray getLines()
    {
        std::lock_guard<std::mutex> guard (linesLock);
        return lines;
    }

    bool printed (const juce::String& line) { return getLines().contains (line); }

    static constexpr size_t imageSize = 5000;

    ScaledClock clock{ vfu::test::testClockSpeed };
    LogCollector log;
    VirtualMidiLayer system{ clock };
    VirtualMidiSystem systemView{ system };
    SystemMidiLayer hostLayer{ systemView, false };
    VirtualPortPublisher publisher{ system };
    std::unique_ptr<SimulatorSession> session;
    std::unique_ptr<MIDIPortsSelector> selector = std::make_unique<MIDIPortsSelector> (hostLayer, clock);
    std::mutex linesLock;
    juce::StringArray lines;
};
} // namespace

TEST (IncomingMidiBytes, gives_back_a_packet_stream_exactly_as_JUCE_splits_it_into_partial_and_whole_messages)
{
    // An identity request, an image in 256-byte packets with a clock byte in between, then a note.
    std::vector<juce::uint8> stream{ 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 };
    const auto image = FirmwareImage::generate (0x0008, "2.2.1", 1000);
    const auto* imageBytes = static_cast<const juce::uint8*> (image.getData());
    stream.insert (stream.end(), imageBytes, imageBytes + image.getSize());
    stream.insert (stream.end(), { 0x90, 0x40, 0x7F });

    CollectedBytes received;
    IncomingMidiBytes callback (received);
    juce::MidiDataConcatenator concatenator (64);

    auto push = [&] (const juce::uint8* data, int size)
    { concatenator.pushMidiData (data, size, 0.0, static_cast<juce::MidiInput*> (nullptr), callback); };

    push (stream.data(), 6);
    const juce::uint8 clockByte = 0xF8;
    for (size_t position = 6; position < stream.size() - 3; position += 256)
    {
        push (stream.data() + position, (int) juce::jmin<size_t> (256, stream.size() - 3 - position));
        if (position == 262)
            push (&clockByte, 1);
    }
    push (stream.data() + stream.size() - 3, 3);

    // The clock byte comes through on its own, where it arrived; everything else byte for byte.
    auto withoutClock = received.bytes;
    const auto clockAt = std::find (withoutClock.begin(), withoutClock.end(), clockByte);
    ASSERT_NE (clockAt, withoutClock.end());
    EXPECT_EQ (clockAt - withoutClock.begin(), 6 + 256 + 256);
    withoutClock.erase (clockAt);
    ASSERT_EQ (withoutClock.size(), stream.size());
    const auto mismatch = std::mismatch (withoutClock.begin(), withoutClock.end(), stream.begin());
    EXPECT_EQ (mismatch.first, withoutClock.end()) << "first difference at " << (mismatch.first - withoutClock.begin());
}

TEST_F (PublishedSimulator, answers_through_its_ports_restarts_into_the_bootloader_and_takes_a_paced_image)
{
    juce::String problem;
    ASSERT_TRUE (session->start (problem)) << problem;
    EXPECT_EQ (hostLayer.getOutputNames(), juce::StringArray ("Quillbox"));

    // The identity request crosses the published ports and the reply comes back on them.
    EXPECT_EQ (pollOnWorker ([&] { return selector->pollDevice (0x0008, false); }), DeviceDetected);
    EXPECT_EQ (selector->getFirmwareVersion(), "2.1.0");

    // No user: it restarts into its bootloader on its own, and its ports leave and come back new.
    ASSERT_TRUE (eventually ([&] { return printed ("back: bootloader"); }));
    ASSERT_TRUE (eventually ([&] { return session->getSummary().portCreations == 2; }));
    EXPECT_EQ (pollOnWorker ([&] { return selector->pollDevice (0x0008, false); }), BootloaderDetected);

    // An image in packets cut without regard to anything, as the firmware sender sends it.
    const auto image = FirmwareImage::generate (0x0008, "2.2.1", imageSize);
    {
        ASSERT_EQ (hostLayer.getOutputNames().indexOf ("Quillbox"), 0);
        auto output = hostLayer.openOutput (0);
        ASSERT_NE (output, nullptr);
        const auto* data = static_cast<const juce::uint8*> (image.getData());
        for (size_t position = 0; position < image.getSize(); position += 256)
            output->sendMessageNow (
                juce::MidiMessage (data + position, (int) juce::jmin<size_t> (256, image.getSize() - position)));
    }

    ASSERT_TRUE (eventually ([&] { return printed ("installed: 2.2.1"); })) << getLines().joinIntoString ("\n");
    EXPECT_EQ (session->getInstrument().getReceivedImage(), image);

    session->finish();
    const auto all = getLines();
    for (auto* expected : { "simulate: Quillbox 2.1.0 (firmware) on ports \"Quillbox\"", "ports: created \"Quillbox\"",
                            "received: identity request", "auto-bootloader: restart into the bootloader in 500 ms",
                            "restart: off the ports for 2000 ms, then bootloader", "ports: closed \"Quillbox\"",
                            "received: firmware image", "image: 512 bytes received", "image: 4608 bytes received",
                            "image-check: 5000 bytes, valid", "summary: image bytes received: 5000",
                            "summary: image: valid", "summary: version installed: 2.2.1" })
        EXPECT_TRUE (all.contains (expected)) << expected << "\n" << all.joinIntoString ("\n");

    // Progress every tenth of the expected size: lines at 500 bytes and after, none for each packet.
    int progressLines = 0;
    for (auto& line : all)
        progressLines += line.startsWith ("image: ") ? 1 : 0;
    EXPECT_LE (progressLines, 10);

    const auto summary = session->getSummary();
    EXPECT_EQ (summary.transferPackets, 20); // 5000 bytes in 256-byte packets
    EXPECT_GE (summary.transferMilliseconds, 0.0);
    EXPECT_EQ (summary.identityRequests, 2);
    EXPECT_TRUE (all.contains ("summary: transfer: 20 packets, " + juce::String (summary.transferMilliseconds, 1) +
                               " ms from the first to the last"));

    // Closed: the port lists no longer show it.
    EXPECT_TRUE (hostLayer.getOutputNames().isEmpty());
}

TEST_F (PublishedSimulator, a_publisher_that_cannot_create_ports_fails_the_start_with_its_reason)
{
    struct Refusing final : public PortPublisher
    {
        std::unique_ptr<Ports> publish (const juce::String&, Receiver&, juce::String& problem) override
        {
            problem = "no MIDI system here";
            return {};
        }
    } refusing;

    SimulatorSession refused ({}, clock, refusing, [] (const juce::String&) {});
    juce::String problem;
    EXPECT_FALSE (refused.start (problem));
    EXPECT_EQ (problem, "no MIDI system here");
}

TEST_F (PublishedSimulator, a_flood_of_stray_messages_is_printed_once_and_counted)
{
    juce::String problem;
    ASSERT_TRUE (session->start (problem)) << problem;
    ASSERT_EQ (hostLayer.getOutputNames(), juce::StringArray ("Quillbox"));
    auto output = hostLayer.openOutput (0);
    ASSERT_NE (output, nullptr);

    // What a SysEx stream mangled into channel messages looks like on arrival.
    for (int i = 0; i < 50; ++i)
        output->sendMessageNow (juce::MidiMessage::noteOff (1, i & 0x7F, (juce::uint8) 0));
    output->sendMessageNow (MIDIPortsSelector::getIdentityRequest());

    ASSERT_TRUE (eventually ([&] { return printed ("received: identity request"); }));
    const auto all = getLines();
    EXPECT_EQ (all.indexOf ("received: non-SysEx message, status 80") + 1,
               all.indexOf ("received: non-SysEx message, status 80 (49 more)"))
        << all.joinIntoString ("\n");
    int strayLines = 0;
    for (auto& line : all)
        strayLines += line.contains ("non-SysEx") ? 1 : 0;
    EXPECT_EQ (strayLines, 2);
}
