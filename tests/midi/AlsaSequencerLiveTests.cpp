#include "midi/native/alsa/AlsaSequencerSystem.h"

#include <gtest/gtest.h>

#if JUCE_LINUX
#include <alsa/asoundlib.h>
#include <poll.h>

#include <mutex>
#include <vector>

// ALSA's event macros assign negated flag masks to byte fields.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wsign-conversion"
#endif

// These need a real ALSA sequencer and skip without one; the real-MIDI checks run them in the test
// guest (scripts/guest/checks.sh, sequencer_connection).
using namespace vfu;

namespace
{
using Bytes = std::vector<juce::uint8>;

// A sequencer client of the test's own with one port, standing for an instrument or another program.
struct TestClient
{
    explicit TestClient (const char* name)
    {
        if (snd_seq_open (&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0)
            return;
        snd_seq_set_client_name (seq, name);
        client = snd_seq_client_id (seq);
        createPort();
    }

    ~TestClient()
    {
        if (seq != nullptr)
            snd_seq_close (seq);
    }

    void createPort()
    {
        port = snd_seq_create_simple_port (seq, "Live Quillbox",
                                           SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ | SND_SEQ_PORT_CAP_WRITE |
                                               SND_SEQ_PORT_CAP_SUBS_WRITE,
                                           SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    }

    juce::String identifier() const { return juce::String (client) + "-" + juce::String (port); }

    // One SysEx event to every subscriber of the port.
    void sendSysEx (Bytes bytes)
    {
        snd_seq_event_t event;
        snd_seq_ev_clear (&event);
        snd_seq_ev_set_sysex (&event, (unsigned int) bytes.size(), bytes.data());
        snd_seq_ev_set_source (&event, (unsigned char) port);
        snd_seq_ev_set_subs (&event);
        snd_seq_ev_set_direct (&event);
        ASSERT_GE (snd_seq_event_output_direct (seq, &event), 0);
    }

    // The SysEx bytes that arrive within the time given.
    Bytes receive (int milliseconds)
    {
        Bytes received;
        pollfd descriptor{};
        snd_seq_poll_descriptors (seq, &descriptor, 1, POLLIN);
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;
        while (juce::Time::getMillisecondCounter() < end)
        {
            poll (&descriptor, 1, 20);
            snd_seq_event_t* event = nullptr;
            while (snd_seq_event_input (seq, &event) >= 0 && event != nullptr)
                if (event->type == SND_SEQ_EVENT_SYSEX)
                {
                    const auto* data = static_cast<const juce::uint8*> (event->data.ext.ptr);
                    received.insert (received.end(), data, data + event->data.ext.len);
                }
        }
        return received;
    }

    snd_seq_t* seq = nullptr;
    int client = -1, port = -1;
};

struct KeepingReceiver final : public MidiReceiver
{
    void handleIncomingMidi (const juce::String& sourceName, const juce::MidiMessage& message) override
    {
        std::lock_guard<std::mutex> guard (lock);
        names.add (sourceName);
        messages.push_back ({ message.getRawData(), message.getRawData() + message.getRawDataSize() });
    }

    bool waitForMessages (size_t count)
    {
        for (int i = 0; i < 200; ++i)
        {
            {
                std::lock_guard<std::mutex> guard (lock);
                if (messages.size() >= count)
                    return true;
            }
            juce::Thread::sleep (10);
        }
        return false;
    }

    std::mutex lock;
    juce::StringArray names;
    std::vector<Bytes> messages;
};

bool lists (const juce::Array<juce::MidiDeviceInfo>& ports, const juce::String& identifier)
{
    for (auto& port : ports)
        if (port.identifier == identifier && port.name == "Live Quillbox")
            return true;
    return false;
}
} // namespace

// The whole way through the one sequencer client: a new port is listed once the sequencer announces
// it, a reply in two events arrives as one message under the listed name, an output reaches the
// port, and another program subscribed to the port is named while the updater's own client and the
// instrument's are not.
TEST (AlsaSequencerLive, lists_receives_sends_and_names_the_other_programs_on_a_port)
{
    AlsaSequencerSystem system;
    juce::String problem;
    if (!system.isAvailable (problem))
        GTEST_SKIP() << problem;

    const auto before = system.getInputs(); // kept until an announcement says otherwise
    TestClient instrument ("Live instrument");
    ASSERT_GE (instrument.port, 0);
    const auto id = instrument.identifier();
    bool listed = false;
    for (int i = 0; i < 200 && !listed; ++i, juce::Thread::sleep (10))
        listed = lists (system.getInputs(), id) && lists (system.getOutputs(), id);
    ASSERT_TRUE (listed);
    EXPECT_FALSE (lists (before, id));

    KeepingReceiver receiver;
    auto input = system.openInput (id, "Live Quillbox (2)", receiver);
    ASSERT_NE (input, nullptr);
    instrument.sendSysEx ({ 0xF0, 0x7E, 0x01 }); // before start(): not delivered
    input->start();
    instrument.sendSysEx ({ 0xF0, 0x7E, 0x7F, 0x06 });
    instrument.sendSysEx ({ 0x02, 0x00, 0xF7 });
    ASSERT_TRUE (receiver.waitForMessages (1));
    juce::Thread::sleep (100);
    {
        std::lock_guard<std::mutex> guard (receiver.lock);
        ASSERT_EQ (receiver.messages.size(), 1u);
        EXPECT_EQ (receiver.messages[0], (Bytes{ 0xF0, 0x7E, 0x7F, 0x06, 0x02, 0x00, 0xF7 }));
        EXPECT_EQ (receiver.names[0], "Live Quillbox (2)");
    }

    auto output = system.openOutput (id, "Live Quillbox (2)");
    ASSERT_NE (output, nullptr);
    const juce::uint8 request[] = { 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 };
    EXPECT_EQ (output->sendMessageNow (juce::MidiMessage (request, (int) sizeof (request))), MidiSendResult::sent);
    EXPECT_EQ (instrument.receive (300), (Bytes (request, request + sizeof (request))));

    // The instrument's ports connected to each other are the instrument's own business.
    ASSERT_EQ (snd_seq_connect_to (instrument.seq, instrument.port, instrument.client, instrument.port), 0);
    EXPECT_TRUE (system.getOtherProgramsConnectedTo (id, id).isEmpty());
    TestClient other ("Other program");
    ASSERT_EQ (snd_seq_connect_from (other.seq, other.port, instrument.client, instrument.port), 0);
    ASSERT_EQ (snd_seq_connect_to (other.seq, other.port, instrument.client, instrument.port), 0);
    EXPECT_EQ (system.getOtherProgramsConnectedTo (id, {}), juce::StringArray ("Other program"));
    EXPECT_EQ (system.getOtherProgramsConnectedTo ({}, id), juce::StringArray ("Other program"));
}

// An instrument that restarts comes back as a new port, often at the same address: an output opened
// on the old port reports it gone rather than sending to the new one; one opened anew reaches it.
// Closing the input ends its deliveries.
TEST (AlsaSequencerLive, an_output_finds_its_port_gone_also_when_a_new_one_took_its_address)
{
    AlsaSequencerSystem system;
    juce::String problem;
    if (!system.isAvailable (problem))
        GTEST_SKIP() << problem;

    TestClient instrument ("Restarting instrument");
    const auto id = instrument.identifier();
    KeepingReceiver receiver;
    auto input = system.openInput (id, "Live Quillbox", receiver);
    auto output = system.openOutput (id, "Live Quillbox");
    ASSERT_NE (input, nullptr);
    ASSERT_NE (output, nullptr);
    input->start();

    const juce::uint8 piece[] = { 0x12, 0x34, 0x56 }; // a firmware piece from a message's middle
    EXPECT_EQ (output->sendMessageNow (juce::MidiMessage (piece, 3)), MidiSendResult::sent);
    EXPECT_EQ (instrument.receive (200), (Bytes{ 0x12, 0x34, 0x56 }));

    const int oldPort = instrument.port;
    snd_seq_delete_simple_port (instrument.seq, instrument.port);
    instrument.createPort();
    ASSERT_EQ (instrument.port, oldPort);

    EXPECT_EQ (output->sendMessageNow (juce::MidiMessage (piece, 3)), MidiSendResult::destinationGone);
    EXPECT_TRUE (instrument.receive (200).empty());

    auto again = system.openOutput (id, "Live Quillbox");
    ASSERT_NE (again, nullptr);
    EXPECT_EQ (again->sendMessageNow (juce::MidiMessage (piece, 3)), MidiSendResult::sent);
    EXPECT_EQ (output->sendMessageNow (juce::MidiMessage (piece, 3)), MidiSendResult::destinationGone);
    EXPECT_EQ (instrument.receive (200), (Bytes{ 0x12, 0x34, 0x56 }));

    input.reset();
    auto reopened = system.openInput (id, "Live Quillbox", receiver); // subscribes the new port
    ASSERT_NE (reopened, nullptr);
    reopened.reset();
    instrument.sendSysEx ({ 0xF0, 0x01, 0xF7 });
    juce::Thread::sleep (200);
    std::lock_guard<std::mutex> guard (receiver.lock);
    EXPECT_TRUE (receiver.messages.empty());
}
#endif
