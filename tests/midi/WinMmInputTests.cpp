// WinMmInput and WinMmSystem over a WinMM driver in memory: SysEx joined from the pieces a driver
// gives, buffers queued again, the close order, and ports another program holds.
#include "MidiTestSupport.h"
#include "midi/SystemMidiLayer.h"
#include "midi/native/winmm/WinMmInput.h"
#include "midi/native/winmm/WinMmSystem.h"

#include <condition_variable>
#include <deque>
#include <set>

using namespace vfu;
using winmm::Result;
namespace results = winmm::results;

namespace
{
using Bytes = std::vector<juce::uint8>;

thread_local bool insideDriverCallback = false;

// An input driver: keeps the queued buffers in order, fills them from its own thread as a driver
// does, and records every call (and any made from inside its callback).
struct FakeWinMmInput
{
    juce::StringArray ports{ "Quillbox" };
    Result openResult = results::noError;

    std::mutex lock;
    std::condition_variable bufferQueued;
    std::deque<winmm::LongBuffer*> queued;
    std::set<winmm::LongBuffer*> prepared;
    juce::StringArray calls;
    winmm::InputHandler* handler = nullptr;
    std::atomic<int> callsFromCallback{ 0 };

    Result note (const juce::String& call, Result result = results::noError)
    {
        if (insideDriverCallback)
            ++callsFromCallback;
        const std::lock_guard<std::mutex> g (lock);
        calls.add (call);
        return result;
    }

    juce::StringArray callLog()
    {
        const std::lock_guard<std::mutex> g (lock);
        return calls;
    }

    winmm::InputCalls table()
    {
        winmm::InputCalls t;
        t.getNumberOfDevices = [this] { return (juce::uint32) ports.size(); };
        t.getName = [this] (juce::uint32 device, juce::String& name)
        {
            name = ports[(int) device];
            return name.isNotEmpty() ? results::noError : results::noMemory;
        };
        t.getInterfaceName = [] (juce::uint32) { return juce::String(); };
        t.open = [this] (juce::uint32 device, winmm::InputHandler& h, winmm::Handle& handle)
        {
            if (openResult == results::noError)
                handler = &h; // a refused open is never called back
            handle = this;
            return note ("open " + juce::String (device), openResult);
        };
        t.prepare = [this] (winmm::Handle, winmm::LongBuffer& b)
        {
            {
                const std::lock_guard<std::mutex> g (lock);
                prepared.insert (&b);
            }
            return note ("prepare");
        };
        t.addBuffer = [this] (winmm::Handle, winmm::LongBuffer& b)
        {
            {
                const std::lock_guard<std::mutex> g (lock);
                queued.push_back (&b);
            }
            bufferQueued.notify_all();
            return note ("add");
        };
        t.unprepare = [this] (winmm::Handle, winmm::LongBuffer& b)
        {
            {
                const std::lock_guard<std::mutex> g (lock);
                prepared.erase (&b);
            }
            return note ("unprepare");
        };
        t.start = [this] (winmm::Handle) { return note ("start"); };
        t.stop = [this] (winmm::Handle) { return note ("stop"); };
        t.reset = [this] (winmm::Handle)
        {
            // Every queued buffer comes back, empty, as WinMM does on a reset.
            while (auto* buffer = nextBuffer (0))
                callBack ([&] { handler->longData (*buffer, 0); });
            return note ("reset");
        };
        t.close = [this] (winmm::Handle) { return note ("close"); };
        return t;
    }

    winmm::LongBuffer* nextBuffer (int waitMilliseconds)
    {
        std::unique_lock<std::mutex> g (lock);
        bufferQueued.wait_for (g, std::chrono::milliseconds (waitMilliseconds), [this] { return !queued.empty(); });
        if (queued.empty())
            return nullptr;
        auto* buffer = queued.front();
        queued.pop_front();
        return buffer;
    }

    template <typename Report> void callBack (Report&& report)
    {
        insideDriverCallback = true;
        report();
        insideDriverCallback = false;
    }

    // Gives the bytes in pieces of `pieceSize`, each in the next queued buffer; false when no buffer
    // came back into the queue in time.
    bool give (const Bytes& bytes, size_t pieceSize)
    {
        for (size_t at = 0; at < bytes.size(); at += pieceSize)
        {
            auto* buffer = nextBuffer (5000);
            if (buffer == nullptr)
                return false;
            const auto n = juce::jmin (pieceSize, bytes.size() - at, (size_t) buffer->size);
            std::memcpy (buffer->bytes.get(), bytes.data() + at, n);
            callBack ([&] { handler->longData (*buffer, (juce::uint32) n); });
        }
        return true;
    }

    void giveLongError()
    {
        auto* buffer = nextBuffer (5000);
        callBack ([&] { handler->badMessage (true, buffer); });
    }
};

struct CollectingReceiver final : public MidiReceiver
{
    void handleIncomingMidi (const juce::String& source, const juce::MidiMessage& message) override
    {
        const std::lock_guard<std::mutex> g (lock);
        sources.add (source);
        messages.emplace_back (message.getRawData(), message.getRawData() + message.getRawDataSize());
    }

    std::vector<Bytes> waitFor (size_t count)
    {
        for (int i = 0; i < 5000; ++i)
        {
            {
                const std::lock_guard<std::mutex> g (lock);
                if (messages.size() >= count)
                    return messages;
            }
            juce::Thread::sleep (1);
        }
        const std::lock_guard<std::mutex> g (lock);
        return messages;
    }

    std::mutex lock;
    juce::StringArray sources;
    std::vector<Bytes> messages;
};

Bytes sysex (size_t bodySize)
{
    Bytes bytes{ 0xF0 };
    for (size_t i = 0; i < bodySize; ++i)
        bytes.push_back ((juce::uint8) (i % 0x7F));
    bytes.push_back (0xF7);
    return bytes;
}
} // namespace

TEST (WinMmInput, joins_a_sysex_message_from_pieces_of_1_7_and_300_bytes_and_queues_every_buffer_again)
{
    const auto message = sysex (1000); // 63 buffers of 16 bytes and more: only a queue kept full carries it

    for (const size_t pieceSize : { 1u, 7u, 300u })
    {
        SCOPED_TRACE (pieceSize);
        FakeWinMmInput driver;
        const auto table = driver.table();
        CollectingReceiver receiver;
        auto input = openWinMmInput (table, "Quillbox", "Quillbox (listed)", receiver);
        ASSERT_NE (input, nullptr);
        input->start();

        ASSERT_TRUE (driver.give (message, pieceSize));
        const auto received = receiver.waitFor (1);
        ASSERT_EQ (received.size(), 1u);
        EXPECT_EQ (received[0], message);
        EXPECT_EQ (receiver.sources[0], "Quillbox (listed)");

        input.reset();
        int queuedAgain = 0;
        for (auto& call : driver.callLog())
            queuedAgain += call == "add" ? 1 : 0;
        EXPECT_EQ (queuedAgain, WinMmInput::bufferCount + (int) ((message.size() + pieceSize - 1) / pieceSize));
        EXPECT_EQ (driver.callsFromCallback.load(), 0);
    }
}

TEST (WinMmInput, a_new_f0_or_a_long_error_drops_the_unfinished_message_and_short_messages_pass)
{
    LogCollector log;
    FakeWinMmInput driver;
    const auto table = driver.table();
    CollectingReceiver receiver;
    auto input = openWinMmInput (table, "Quillbox", "Quillbox", receiver);
    ASSERT_NE (input, nullptr);
    input->start();

    ASSERT_TRUE (driver.give ({ 0xF0, 0x01, 0x02 }, 3));       // never finished:
    ASSERT_TRUE (driver.give ({ 0xF0, 0x03, 0xF8, 0xF7 }, 2)); // a new F0, with a clock byte inside
    ASSERT_TRUE (driver.give ({ 0xF0, 0x04 }, 2));
    driver.giveLongError();
    ASSERT_TRUE (driver.give ({ 0x05, 0xF7, 0xF0, 0x06, 0xF7 }, 5)); // the rest of the broken message is no message
    driver.callBack ([&] { driver.handler->shortMessage (0x7F4090); });

    const auto received = receiver.waitFor (4);
    ASSERT_EQ (received.size(), 4u);
    EXPECT_EQ (received[0], Bytes ({ 0xF8 }));
    EXPECT_EQ (received[1], Bytes ({ 0xF0, 0x03, 0xF7 }));
    EXPECT_EQ (received[2], Bytes ({ 0xF0, 0x06, 0xF7 }));
    EXPECT_EQ (received[3], Bytes ({ 0x90, 0x40, 0x7F }));

    input.reset();
    EXPECT_TRUE (log.contains ("MIDI input [Quillbox] : an unfinished SysEx message was dropped: a new one began "
                               "before its F7"));
    EXPECT_TRUE (log.contains ("MIDI input [Quillbox] : an invalid SysEx message was dropped (MIM_LONGERROR)"));
}

TEST (WinMmInput, closes_by_stop_reset_unprepare_every_buffer_then_close_and_delivers_only_while_started)
{
    FakeWinMmInput driver;
    const auto table = driver.table();
    CollectingReceiver receiver;
    auto input = openWinMmInput (table, "Quillbox", "Quillbox", receiver);
    ASSERT_NE (input, nullptr);

    ASSERT_TRUE (driver.give ({ 0xF0, 0x01, 0xF7 }, 3)); // not started yet
    input->start();
    input->stop();
    ASSERT_TRUE (driver.give ({ 0xF0, 0x02, 0xF7 }, 3)); // stopped
    input.reset();
    EXPECT_TRUE (receiver.messages.empty());

    auto calls = driver.callLog();
    calls.removeString ("add");
    juce::StringArray expected ("open 0");
    for (int i = 0; i < WinMmInput::bufferCount; ++i)
        expected.add ("prepare");
    expected.addArray ({ "start", "stop", "reset" });
    for (int i = 0; i < WinMmInput::bufferCount; ++i)
        expected.add ("unprepare");
    expected.add ("close");
    EXPECT_EQ (calls, expected);
    EXPECT_TRUE (driver.prepared.empty());
    EXPECT_EQ (driver.callsFromCallback.load(), 0); // the reset's returns were not queued again from the callback
}

TEST (WinMmSystem, names_a_port_held_by_another_program_for_input_and_output_until_it_is_free)
{
    struct Case
    {
        bool input;
        Result result;
        int openCalls; // an allocated port is tried four times
    };

    for (const auto& c : { Case{ true, results::allocated, 4 }, Case{ true, results::noMemory, 1 },
                           Case{ false, results::allocated, 4 }, Case{ false, results::noMemory, 1 } })
    {
        SCOPED_TRACE (juce::String (c.input ? "input " : "output ") + winmm::describe (c.result));
        FakeWinMmInput inputs;
        inputs.ports = { "Other", "", "Quillbox" }; // the second cannot be described: device 2 is the instrument
        std::atomic<Result> outputOpen{ results::noError };
        std::atomic<int> outputOpens{ 0 };
        winmm::Calls outputs;
        outputs.getNumberOfDevices = [] { return 1u; };
        outputs.getName = [] (juce::uint32, juce::String& name)
        {
            name = "Quillbox";
            return results::noError;
        };
        outputs.getInterfaceName = [] (juce::uint32) { return juce::String(); };
        outputs.open = [&] (juce::uint32, winmm::Handle& handle)
        {
            ++outputOpens;
            handle = &outputOpens;
            return outputOpen.load();
        };
        outputs.close = [] (winmm::Handle) { return results::noError; };
        outputs.sendLong = outputs.prepare =
            outputs.unprepare = [] (winmm::Handle, winmm::LongBuffer&) { return results::noError; };
        outputs.isDone = [] (const winmm::LongBuffer&) { return true; };

        const auto inputTable = inputs.table();
        if (c.input)
            inputs.openResult = c.result;
        else
            outputOpen = c.result;

        WinMmSystem system (inputTable, outputs);
        SystemMidiLayer layer (system, false);
        ScaledClock clock (1000.0);
        MIDIPortsSelector selector (layer, clock);
        ASSERT_TRUE (selector.selectInputPort ("Quillbox"));
        ASSERT_TRUE (selector.selectOutputPort ("Quillbox"));

        vfu::test::pollOnWorker ([&] { return selector.pollDevice (0x0008, false); });
        const auto line =
            juce::String (c.input ? "input" : "output") + " [Quillbox] (" + winmm::describe (c.result) + ")";
        EXPECT_EQ (selector.getPortsInUse(), juce::StringArray (line));
        EXPECT_EQ (c.input ? inputs.callLog().size() : outputOpens.load(), c.openCalls);
        if (c.input)
        {
            EXPECT_EQ (inputs.callLog()[0], "open 2"); // by the device number listed
        }

        inputs.openResult = results::noError;
        outputOpen = results::noError;
        vfu::test::pollOnWorker ([&] { return selector.pollDevice (0x0008, false); });
        EXPECT_TRUE (selector.getPortsInUse().isEmpty());
    }
}

TEST (WinMmInput, a_second_opening_by_this_process_is_not_taken_for_another_program)
{
    FakeWinMmInput driver;
    const auto table = driver.table();
    CollectingReceiver receiver;
    auto first = openWinMmInput (table, "Quillbox", "Quillbox", receiver);
    ASSERT_NE (first, nullptr);

    driver.openResult = results::allocated; // as WinMM answers a port already open
    OpenRefusal refusal;
    EXPECT_EQ (openWinMmInput (table, "Quillbox", "Quillbox", receiver, &refusal), nullptr);
    EXPECT_FALSE (refusal.heldByAnotherProgram);
    EXPECT_EQ (refusal.result, "MMSYSERR_ALLOCATED");

    first.reset();
    EXPECT_EQ (openWinMmInput (table, "Quillbox", "Quillbox", receiver, &refusal), nullptr);
    EXPECT_TRUE (refusal.heldByAnotherProgram);
}
