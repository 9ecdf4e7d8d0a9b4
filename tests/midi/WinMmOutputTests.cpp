#include "MidiTestSupport.h"
#include "engine/SysexSender.h"
#include "midi/native/winmm/WinMmOutput.h"

#include <map>
#include <mutex>

using namespace vfu;
using winmm::Result;
namespace results = winmm::results;

namespace
{
using Bytes = std::vector<juce::uint8>;

// A WinMM driver in memory that keeps headers as WinMM does (a queued header stays "still playing"
// until done) and records every call.
struct FakeWinMm
{
    struct Port
    {
        juce::String name, interfaceName;
        bool describable = true;
    };
    std::vector<Port> ports{ { "Quillbox", "" } };

    Result openResult = results::noError, prepareResult = results::noError, longResult = results::noError,
           shortResult = results::noError;
    int notReadyAnswers = 0; // long messages refused as busy before longResult applies
    bool completes = true;   // a long message is done as soon as it is handed over
    int resetsThatKeep = 0;  // resets that leave queued headers undone, before those that finish them

    std::mutex lock;
    std::vector<Bytes> longMessages;
    std::vector<juce::uint32> shortMessages;
    juce::StringArray calls;
    std::map<const winmm::LongBuffer*, bool> queuedDone; // prepared headers: handed over and done?
    std::map<const winmm::LongBuffer*, bool> prepared;

    int preparedCount()
    {
        const std::lock_guard<std::mutex> g (lock);
        return (int) prepared.size();
    }

    juce::StringArray callLog()
    {
        const std::lock_guard<std::mutex> g (lock);
        return calls;
    }

    winmm::Calls table()
    {
        winmm::Calls t;
        t.getNumberOfDevices = [this] { return (juce::uint32) ports.size(); };
        t.getName = [this] (juce::uint32 device, juce::String& name)
        {
            name = ports[device].name;
            return ports[device].describable ? results::noError : results::noMemory;
        };
        t.getInterfaceName = [this] (juce::uint32 device) { return ports[device].interfaceName; };
        t.open = [this] (juce::uint32 device, winmm::Handle& handle)
        {
            return note ("open " + juce::String (device),
                         [&]
                         {
                             handle = this;
                             return openResult;
                         });
        };
        t.close = [this] (winmm::Handle)
        { return note ("close", [&] { return hasPending() ? results::stillPlaying : results::noError; }); };
        t.sendShort = [this] (winmm::Handle, juce::uint32 packed)
        {
            return note ("short",
                         [&]
                         {
                             shortMessages.push_back (packed);
                             return shortResult;
                         });
        };
        t.prepare = [this] (winmm::Handle, winmm::LongBuffer& buffer)
        {
            return note ("prepare",
                         [&]
                         {
                             if (prepareResult == results::noError)
                                 prepared[&buffer] = true;
                             return prepareResult;
                         });
        };
        t.sendLong = [this] (winmm::Handle, winmm::LongBuffer& buffer)
        {
            return note ("long",
                         [&]
                         {
                             if (notReadyAnswers > 0)
                             {
                                 --notReadyAnswers;
                                 return results::notReady;
                             }
                             if (longResult != results::noError)
                                 return longResult;
                             longMessages.emplace_back (buffer.bytes.get(), buffer.bytes.get() + buffer.size);
                             queuedDone[&buffer] = completes;
                             return results::noError;
                         });
        };
        t.isDone = [this] (const winmm::LongBuffer& buffer)
        {
            const std::lock_guard<std::mutex> g (lock);
            return queuedDone.count (&buffer) > 0 && queuedDone[&buffer];
        };
        t.unprepare = [this] (winmm::Handle, winmm::LongBuffer& buffer)
        {
            return note ("unprepare",
                         [&]
                         {
                             if (queuedDone.count (&buffer) > 0 && !queuedDone[&buffer])
                                 return results::stillPlaying;
                             queuedDone.erase (&buffer);
                             return prepared.erase (&buffer) > 0 ? results::noError : results::unprepared;
                         });
        };
        t.reset = [this] (winmm::Handle)
        {
            return note ("reset",
                         [&]
                         {
                             if (resetsThatKeep > 0)
                                 --resetsThatKeep;
                             else
                                 for (auto& entry : queuedDone)
                                     entry.second = true;
                             return results::noError;
                         });
        };
        return t;
    }

private:
    template <typename Answer> Result note (const juce::String& call, Answer&& answer)
    {
        const std::lock_guard<std::mutex> g (lock);
        if (calls.isEmpty() || calls[calls.size() - 1] != call)
            calls.add (call); // repeats (retries) are noted once
        return answer();
    }

    bool hasPending()
    {
        for (auto& entry : queuedDone)
            if (!entry.second)
                return true;
        return false;
    }
};

juce::MidiMessage messageOf (const Bytes& bytes)
{
    return juce::MidiMessage (bytes.data(), (int) bytes.size());
}

std::unique_ptr<MidiOutputConnection> openOn (FakeWinMm& driver, int completionMilliseconds = 2000)
{
    return openWinMmOutput (driver.table(), "Quillbox", "Quillbox", completionMilliseconds);
}
} // namespace

TEST (WinMmOutput, pieces_of_one_to_three_bytes_and_pieces_led_by_f7_or_a_data_byte_go_out_whole_as_long_messages)
{
    FakeWinMm driver;
    auto output = openOn (driver);
    ASSERT_NE (output, nullptr);

    const std::vector<Bytes> pieces{ { 0x12 },
                                     { 0x12, 0x34 },
                                     { 0x12, 0x34, 0x56 },
                                     { 0xF7 },
                                     { 0xF7, 0xF0 },
                                     { 0xF7, 0xF0, 0x04, 0x08 },
                                     { 0x90, 0x3C },
                                     { 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 } };
    for (auto& piece : pieces)
        EXPECT_EQ (output->sendMessageNow (messageOf (piece)), MidiSendResult::sent);

    EXPECT_EQ (driver.longMessages, pieces);
    EXPECT_TRUE (driver.shortMessages.empty());
    EXPECT_EQ (driver.preparedCount(), 0);
    juce::StringArray expectedCalls ("open 0");
    for (size_t i = 0; i < pieces.size(); ++i)
        expectedCalls.addArray ({ "prepare", "long", "unprepare" });
    EXPECT_EQ (driver.callLog(), expectedCalls);

    // One complete channel or system message is a short message, first byte lowest.
    EXPECT_EQ (output->sendMessageNow (messageOf ({ 0x90, 0x3C, 0x40 })), MidiSendResult::sent);
    EXPECT_EQ (output->sendMessageNow (messageOf ({ 0xF8 })), MidiSendResult::sent);
    EXPECT_EQ (driver.shortMessages, (std::vector<juce::uint32>{ 0x403C90, 0xF8 }));
    EXPECT_EQ (driver.longMessages.size(), pieces.size());
}

TEST (WinMmOutput, refusals_and_a_vanished_port_end_with_their_result_and_leave_no_header_prepared)
{
    struct Case
    {
        Result FakeWinMm::*answer;
        Result value;
        Bytes message;
        MidiSendResult expected;
    };
    const Bytes piece{ 0x12, 0x34, 0x56, 0x78 }, noteOn{ 0x90, 0x3C, 0x40 };
    const std::vector<Case> cases{
        { &FakeWinMm::longResult, results::noMemory, piece, MidiSendResult::refused },
        { &FakeWinMm::longResult, results::notReady, piece, MidiSendResult::refused }, // busy for good
        { &FakeWinMm::longResult, results::noDevice, piece, MidiSendResult::destinationGone },
        { &FakeWinMm::longResult, results::invalidHandle, piece, MidiSendResult::destinationGone },
        { &FakeWinMm::longResult, results::noDriver, piece, MidiSendResult::destinationGone },
        { &FakeWinMm::prepareResult, results::noMemory, piece, MidiSendResult::refused },
        { &FakeWinMm::prepareResult, results::noDevice, piece, MidiSendResult::destinationGone },
        { &FakeWinMm::shortResult, results::notReady, noteOn, MidiSendResult::refused },
        { &FakeWinMm::shortResult, results::noDevice, noteOn, MidiSendResult::destinationGone },
    };
    for (auto& c : cases)
    {
        FakeWinMm driver;
        driver.*c.answer = c.value;
        LogCollector log;
        auto output = openOn (driver);
        EXPECT_EQ (output->sendMessageNow (messageOf (c.message)), c.expected) << winmm::describe (c.value);
        EXPECT_EQ (driver.preparedCount(), 0) << winmm::describe (c.value);
        EXPECT_EQ (log.getLines(), juce::StringArray ("MIDI output [Quillbox] : a message could not be sent (" +
                                                      winmm::describe (c.value) + ")"));
    }

    // A driver that is busy for a moment takes the message once it is ready.
    FakeWinMm busy;
    busy.notReadyAnswers = 3;
    EXPECT_EQ (openOn (busy)->sendMessageNow (messageOf (piece)), MidiSendResult::sent);
    EXPECT_EQ (busy.longMessages, std::vector<Bytes> (1, piece));
}

TEST (WinMmOutput, a_message_the_driver_never_finishes_is_taken_back_at_its_bound_and_its_buffer_kept_until_close)
{
    const Bytes piece (200, 0x11);
    {
        FakeWinMm driver;
        driver.completes = false;
        LogCollector log;
        auto output = openOn (driver, 50);
        const auto start = juce::Time::getMillisecondCounter();
        EXPECT_EQ (output->sendMessageNow (messageOf (piece)), MidiSendResult::refused);
        EXPECT_GE (juce::Time::getMillisecondCounter() - start, 250u); // 50 ms and one per byte
        EXPECT_EQ (driver.callLog().joinIntoString (","), "open 0,prepare,long,reset,unprepare");
        EXPECT_EQ (driver.preparedCount(), 0);
        EXPECT_EQ (log.getLines(), juce::StringArray ("MIDI output [Quillbox] : the driver did not finish a "
                                                      "message of 200 bytes in time; the port was reset"));
    }

    // A driver that keeps the buffer even after a reset gets it back when the port closes...
    FakeWinMm keeping;
    keeping.completes = false;
    keeping.resetsThatKeep = 1;
    auto output = openOn (keeping, 10);
    EXPECT_EQ (output->sendMessageNow (messageOf (piece)), MidiSendResult::refused);
    EXPECT_EQ (keeping.preparedCount(), 1);
    output.reset();
    EXPECT_EQ (keeping.preparedCount(), 0);
    EXPECT_TRUE (keeping.callLog().joinIntoString (",").endsWith ("reset,unprepare,close"));

    // ...and one that never gives it back keeps it: the output is closed without freeing it.
    FakeWinMm never;
    never.completes = false;
    never.resetsThatKeep = 2;
    LogCollector log;
    openOn (never, 10)->sendMessageNow (messageOf (piece));
    EXPECT_EQ (never.preparedCount(), 1);
    EXPECT_TRUE (log.getLines().contains ("MIDI output [Quillbox] : the port did not close (MIDIERR_STILLPLAYING); "
                                          "1 message buffer(s) stay with its driver"));
}

TEST (WinMmOutput, the_senders_stop_ends_the_wait_for_a_piece_the_driver_never_finishes)
{
    FakeWinMm driver;
    driver.completes = false;
    auto transfer = std::make_shared<SysexSender::Transfer>();
    transfer->output = openOn (driver, 600000); // only the stop can end the wait
    transfer->image.setSize (600, true);
    ScaledClock clock (vfu::test::testClockSpeed);

    auto sender = std::make_unique<SysexSender> (transfer, 0.5f, 256, clock);
    for (int i = 0; i < 5000 && driver.preparedCount() == 0; ++i)
        juce::Thread::sleep (1);
    ASSERT_EQ (driver.preparedCount(), 1);

    EXPECT_TRUE (SysexSender::stopAndRelease (std::move (sender), 4000));
    EXPECT_EQ (driver.longMessages, std::vector<Bytes> (1, Bytes (256, 0)));
    EXPECT_EQ (driver.callLog().joinIntoString (","), "open 0,prepare,long,reset,unprepare");
    EXPECT_EQ (driver.preparedCount(), 0);
}

TEST (WinMmOutput, opens_the_port_that_juce_lists_under_the_identifier)
{
    FakeWinMm driver;
    driver.ports = { { "Quillbox", "\\\\?\\usb#vid_1&pid_2#a" },
                     { "Quillbox", "" },
                     { "Unreadable", "", false },
                     { "Quillbox", "" },
                     { "Other", "" } };

    const auto listing = listWinMmOutputs (driver.table());
    EXPECT_EQ (listing.identifiers,
               juce::StringArray ({ "\\\\?\\usb#vid_1&pid_2#a", "Quillbox", "Quillbox-2", "Other" }));
    EXPECT_EQ (listing.devices, juce::Array<juce::uint32> ({ 0u, 1u, 3u, 4u }));

    // The device behind the identifier, not the identifier's place in the list.
    auto other = openWinMmOutput (driver.table(), "Other", "Other (listed)");
    ASSERT_NE (other, nullptr);
    EXPECT_EQ (other->getName(), "Other (listed)");
    other.reset();
    EXPECT_EQ (openWinMmOutput (driver.table(), "quillbox", "quillbox"), nullptr);
    EXPECT_EQ (openWinMmOutput (driver.table(), "Unreadable", "Unreadable"), nullptr);
    EXPECT_EQ (driver.callLog(), juce::StringArray ({ "open 4", "close" }));

    FakeWinMm held;
    held.openResult = results::allocated;
    EXPECT_EQ (openOn (held), nullptr);
    EXPECT_EQ (held.callLog(), juce::StringArray ("open 0")); // tried four times, noted once

    EXPECT_EQ (openWinMmOutput ("No such port (test)", "No such port"), nullptr);
}
