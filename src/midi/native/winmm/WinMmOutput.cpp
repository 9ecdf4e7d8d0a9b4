#include "midi/native/winmm/WinMmOutput.h"

#include "core/Log.h"

#include <mutex>

namespace vfu
{
namespace
{
using winmm::Result;
namespace results = winmm::results;

// "The device is busy": tried again for about half a second rather than given up at once.
constexpr int notReadyMilliseconds = 500;

// How long a buffer that is still playing after a reset may take to come back.
constexpr int unprepareMilliseconds = 200;

// A port another program holds: four tries 100 ms apart, as JUCE makes.
constexpr int openAttempts = 4;

bool stopRequested()
{
    return juce::Thread::currentThreadShouldExit();
}

juce::int64 millisecondsSince (juce::uint32 start)
{
    return (juce::int64) (juce::uint32) (juce::Time::getMillisecondCounter() - start);
}

template <typename Call> Result retryWhileNotReady (Call&& call)
{
    const auto start = juce::Time::getMillisecondCounter();
    for (;;)
    {
        const auto result = call();
        if (result != results::notReady || stopRequested() || millisecondsSince (start) >= notReadyMilliseconds)
            return result;
        juce::Thread::sleep (1);
    }
}

// Buffers that a driver kept even after its port failed to close: never freed, since the driver
// may still write into them.
void keepForTheRestOfTheProcess (std::vector<std::unique_ptr<winmm::LongBuffer>> buffers)
{
    static std::mutex lock;
    static std::vector<std::unique_ptr<winmm::LongBuffer>> kept;
    const std::lock_guard<std::mutex> guard (lock);
    for (auto& buffer : buffers)
        kept.push_back (std::move (buffer));
}
} // namespace

WinMmOutput::WinMmOutput (const winmm::Calls& callsToUse, winmm::Handle h, const juce::String& name,
                          int completionMillisecondsToUse)
    : calls (callsToUse), handle (h), listedName (name), completionMilliseconds (completionMillisecondsToUse)
{
}

WinMmOutput::~WinMmOutput()
{
    if (!heldByDriver.empty())
    {
        calls.reset (handle);
        heldByDriver.erase (std::remove_if (heldByDriver.begin(), heldByDriver.end(),
                                            [this] (auto& buffer)
                                            {
                                                const auto result = calls.unprepare (handle, *buffer);
                                                return result == results::noError || result == results::unprepared;
                                            }),
                            heldByDriver.end());
    }

    const auto closed = calls.close (handle);
    if (closed != results::noError && !heldByDriver.empty())
    {
        writeLog ("MIDI output [" + listedName + "] : the port did not close (" + winmm::describe (closed) + "); " +
                  juce::String ((int) heldByDriver.size()) + " message buffer(s) stay with its driver");
        keepForTheRestOfTheProcess (std::move (heldByDriver));
    }
}

MidiSendResult WinMmOutput::sendMessageNow (const juce::MidiMessage& message)
{
    const auto* data = message.getRawData();
    const int size = message.getRawDataSize();
    if (size <= 0)
        return MidiSendResult::sent;

    return goesAsShortMessage (data, size) ? sendShort (data, size) : sendLong (data, size);
}

bool WinMmOutput::goesAsShortMessage (const juce::uint8* data, int size) noexcept
{
    if (size < 1 || size > 3)
        return false;

    const auto first = data[0];
    if (first < 0x80 || first == 0xF0 || first == 0xF7)
        return false;

    return juce::MidiMessage::getMessageLengthFromFirstByte (first) == size;
}

MidiSendResult WinMmOutput::toSendResult (Result result) noexcept
{
    switch (result)
    {
        case results::noError:
            return MidiSendResult::sent;
        case results::invalidHandle:
        case results::noDriver:
        case results::noDevice:
            return MidiSendResult::destinationGone;
        default:
            return MidiSendResult::refused;
    }
}

MidiSendResult WinMmOutput::sendShort (const juce::uint8* data, int size)
{
    // The first byte in the lowest byte of the word, as midiOutShortMsg reads it.
    juce::uint32 packed = 0;
    for (int i = 0; i < size; ++i)
        packed |= (juce::uint32) data[i] << (8 * i);

    const auto result = retryWhileNotReady ([&] { return calls.sendShort (handle, packed); });
    if (result != results::noError)
        noteFailure ("a message could not be sent (" + winmm::describe (result) + ")");
    return toSendResult (result);
}

MidiSendResult WinMmOutput::sendLong (const juce::uint8* data, int size)
{
    // A thread that is stopping hands nothing more to the driver (it would be reset at once).
    if (stopRequested())
    {
        noteFailure ("a message was not sent: sending is stopping");
        return MidiSendResult::refused;
    }

    auto buffer = std::make_unique<winmm::LongBuffer> (data, size);

    const auto prepared = calls.prepare (handle, *buffer);
    if (prepared != results::noError)
    {
        noteFailure ("a message could not be sent (" + winmm::describe (prepared) + ")");
        return toSendResult (prepared);
    }

    const auto handed = retryWhileNotReady ([&] { return calls.sendLong (handle, *buffer); });
    if (handed != results::noError)
    {
        release (std::move (buffer));
        noteFailure ("a message could not be sent (" + winmm::describe (handed) + ")");
        return toSendResult (handed);
    }

    if (awaitCompletion (*buffer))
    {
        release (std::move (buffer));
        return MidiSendResult::sent;
    }

    // The driver has not finished: take the buffer back before letting it go.
    const bool stopped = stopRequested();
    calls.reset (handle);
    release (std::move (buffer));
    noteFailure (stopped ? juce::String ("sending stopped before the driver finished a message; the port was reset")
                         : "the driver did not finish a message of " + juce::String (size) +
                               " bytes in time; the port was reset");
    return MidiSendResult::refused;
}

bool WinMmOutput::awaitCompletion (const winmm::LongBuffer& buffer)
{
    const auto limit = (juce::int64) completionMilliseconds + (juce::int64) buffer.size; // a millisecond per byte
    const auto start = juce::Time::getMillisecondCounter();

    while (!calls.isDone (buffer))
    {
        if (stopRequested() || millisecondsSince (start) >= limit)
            return false;
        juce::Thread::sleep (1);
    }
    return true;
}

void WinMmOutput::release (std::unique_ptr<winmm::LongBuffer> buffer)
{
    const auto start = juce::Time::getMillisecondCounter();
    auto result = calls.unprepare (handle, *buffer);
    while (result == results::stillPlaying && millisecondsSince (start) < unprepareMilliseconds)
    {
        juce::Thread::sleep (1);
        result = calls.unprepare (handle, *buffer);
    }

    if (result == results::noError || result == results::unprepared)
        return; // the buffer is freed here

    writeLog ("MIDI output [" + listedName + "] : its driver keeps a message buffer (" + winmm::describe (result) +
              "); it is released when the port closes");
    heldByDriver.push_back (std::move (buffer));
}

void WinMmOutput::noteFailure (const juce::String& what)
{
    if (failureLogged)
        return;
    failureLogged = true;
    writeLog ("MIDI output [" + listedName + "] : " + what);
}

WinMmOutputListing listWinMmOutputs (const winmm::Calls& calls)
{
    return listWinMmPorts (calls);
}

std::unique_ptr<MidiOutputConnection> openWinMmOutput (const winmm::Calls& calls, const juce::String& identifier,
                                                       const juce::String& listedName, int completionMilliseconds,
                                                       OpenRefusal* refusal)
{
    if (!calls.open)
        return {};

    // The device number behind the identifier: JUCE takes the identifier's place in its list,
    // which names another port once a port before it could not be described.
    const auto listing = listWinMmOutputs (calls);
    const int index = listing.identifiers.indexOf (identifier);
    if (index < 0)
        return {};

    auto result = results::noError;
    for (int attempt = 0; attempt < openAttempts; ++attempt)
    {
        winmm::Handle handle = nullptr;
        result = calls.open (listing.devices[index], handle);
        if (result == results::noError)
            return std::make_unique<WinMmOutput> (calls, handle, listedName, completionMilliseconds);
        if (result != results::allocated || attempt == openAttempts - 1)
            break;
        juce::Thread::sleep (100);
    }

    if (refusal != nullptr)
        *refusal = winmm::refusalFor (result, listedName);
    return {};
}

std::unique_ptr<MidiOutputConnection> openWinMmOutput (const juce::String& identifier, const juce::String& listedName,
                                                       OpenRefusal* refusal)
{
#if JUCE_WINDOWS
    return openWinMmOutput (winmm::systemCalls(), identifier, listedName, WinMmOutput::defaultCompletionMilliseconds,
                            refusal);
#else
    juce::ignoreUnused (identifier, listedName, refusal);
    return {};
#endif
}
} // namespace vfu
