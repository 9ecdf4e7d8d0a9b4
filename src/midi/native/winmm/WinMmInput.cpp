#include "midi/native/winmm/WinMmInput.h"

#include "core/Log.h"

#include <array>
#include <mutex>
#include <utility>

namespace vfu
{
namespace
{
using winmm::Result;
namespace results = winmm::results;

// How long a buffer still with the driver after the reset may take to come back.
constexpr int unprepareMilliseconds = 200;

// How long closing waits for the input's thread, which never blocks for longer than a pass.
constexpr int serviceStopMilliseconds = 2000;
constexpr int servicePassMilliseconds = 100;

// A port another program holds: four tries 100 ms apart, as for the outputs.
constexpr int openAttempts = 4;

juce::MidiMessage timed (juce::MidiMessage message)
{
    message.setTimeStamp (juce::Time::getMillisecondCounterHiRes() * 0.001);
    return message;
}

// What the driver gave, kept with what it reached (kept for good when the port will not close, since
// the driver may still call back into it and write into the buffers).
struct Kept
{
    std::mutex lock;
    std::vector<std::shared_ptr<void>> objects;
};

Kept& kept()
{
    static Kept k;
    return k;
}

// The inputs this process has open, by identifier: WinMM refuses a second opening of a port with
// the same MMSYSERR_ALLOCATED as another program's, and that is not another program.
struct OpenHere
{
    std::mutex lock;
    juce::StringArray identifiers; // one entry per opening
};

OpenHere& openHere()
{
    static OpenHere o;
    return o;
}

bool isOpenHere (const juce::String& identifier)
{
    const std::lock_guard<std::mutex> guard (openHere().lock);
    return openHere().identifiers.contains (identifier);
}
} // namespace

// The driver's side: notes each report in a fixed ring and wakes the input's thread. Only a lock
// and an event: no WinMM call, no allocation, no log.
class WinMmInput::Inbox final : public winmm::InputHandler
{
public:
    struct Event
    {
        enum class Kind
        {
            shortData,
            longData,
            badShort,
            badLong
        } kind = Kind::shortData;
        juce::uint32 packed = 0;
        winmm::LongBuffer* buffer = nullptr;
        juce::uint32 bytes = 0;
    };

    Inbox()
    {
        for (int i = 0; i < bufferCount; ++i)
            buffers.push_back (std::make_unique<winmm::LongBuffer> (bufferBytes));
    }

    void shortMessage (juce::uint32 packed) override { add ({ Event::Kind::shortData, packed, nullptr, 0 }); }

    void longData (winmm::LongBuffer& buffer, juce::uint32 bytesRecorded) override
    {
        add ({ Event::Kind::longData, 0, &buffer, juce::jmin (bytesRecorded, buffer.size) });
    }

    void badMessage (bool wasLong, winmm::LongBuffer* buffer) override
    {
        add ({ wasLong ? Event::Kind::badLong : Event::Kind::badShort, 0, buffer, 0 });
    }

    // Takes what has arrived, oldest first; `lost` counts the short messages the ring had no room for.
    int take (std::array<Event, 256>& out, int& lost)
    {
        const std::lock_guard<std::mutex> guard (lock);
        const int n = (int) juce::jmin (count, out.size());
        for (int i = 0; i < n; ++i)
            out[(size_t) i] = events[(head + (size_t) i) % events.size()];
        head = (head + (size_t) n) % events.size();
        count -= (size_t) n;
        lost = std::exchange (overflowed, 0);
        return n;
    }

    std::vector<std::unique_ptr<winmm::LongBuffer>> buffers;
    juce::WaitableEvent wake;

private:
    void add (const Event& event)
    {
        {
            const std::lock_guard<std::mutex> guard (lock);
            // A buffer always finds room (there are far fewer buffers than places); a short
            // message that would take a buffer's place is counted as lost.
            if (count >= events.size() || (event.buffer == nullptr && count >= events.size() - bufferCount))
            {
                ++overflowed;
                return;
            }
            events[(head + count) % events.size()] = event;
            ++count;
        }
        wake.signal();
    }

    std::mutex lock;
    std::array<Event, 1024> events;
    size_t head = 0, count = 0;
    int overflowed = 0;
};

// The input's thread: joins SysEx pieces into messages, delivers, gives buffers back, logs.
class WinMmInput::Service final : public juce::Thread
{
public:
    Service (const winmm::InputCalls& c, winmm::Handle h, Inbox& i, const juce::String& name, MidiReceiver& r)
        : juce::Thread ("WinMM input"), calls (c), handle (h), inbox (i), listedName (name), receiver (r)
    {
    }

    ~Service() override
    {
        signalThreadShouldExit();
        inbox.wake.signal();
        stopThread (serviceStopMilliseconds);
    }

    void run() override
    {
        while (!threadShouldExit())
        {
            inbox.wake.wait (servicePassMilliseconds);
            drain();
        }
        drain(); // what the reset returned: nothing is queued again
    }

    void setDelivering (bool shouldDeliver)
    {
        const std::lock_guard<std::recursive_mutex> guard (deliveryLock);
        delivering = shouldDeliver;
        unfinished.reset(); // a message begun before a start is not joined to one after it
    }

    // From now on no buffer goes back into the queue (called before the port is reset).
    void beginClosing()
    {
        const std::lock_guard<std::mutex> guard (queueLock);
        closing = true;
    }

private:
    void drain()
    {
        std::array<Inbox::Event, 256> taken;
        for (;;)
        {
            int lost = 0;
            const int n = inbox.take (taken, lost);
            if (lost > 0)
                noteOnce (lostLogged, juce::String (lost) + " short message(s) dropped: they came faster than read");
            if (n == 0)
                return;
            for (int i = 0; i < n; ++i)
                process (taken[(size_t) i]);
        }
    }

    void process (const Inbox::Event& event)
    {
        using Kind = Inbox::Event::Kind;
        switch (event.kind)
        {
            case Kind::shortData:
                deliverShort (event.packed);
                break;
            case Kind::longData:
                join (*event.buffer, event.bytes);
                requeue (*event.buffer);
                break;
            case Kind::badShort:
                noteOnce (badShortLogged, "an invalid message was dropped (MIM_ERROR)");
                break;
            case Kind::badLong:
                noteOnce (badLongLogged, "an invalid SysEx message was dropped (MIM_LONGERROR)");
                dropUnfinished();
                if (event.buffer != nullptr)
                    requeue (*event.buffer);
                break;
        }
    }

    void deliverShort (juce::uint32 packed)
    {
        const auto status = (juce::uint8) (packed & 0xff);
        if (status < 0x80 || status == 0xF0 || status == 0xF7)
            return; // a short message always carries its own status; SysEx comes as long data

        const juce::uint8 bytes[3] = { status, (juce::uint8) ((packed >> 8) & 0x7f),
                                       (juce::uint8) ((packed >> 16) & 0x7f) };
        const int size = juce::MidiMessage::getMessageLengthFromFirstByte (status);
        deliver (juce::MidiMessage (bytes, size));
    }

    // A buffer holds part of a SysEx message, or several: pieces are joined until their F7.
    void join (const winmm::LongBuffer& buffer, juce::uint32 size)
    {
        const std::lock_guard<std::recursive_mutex> guard (deliveryLock);
        if (!delivering)
            return;

        const auto* bytes = reinterpret_cast<const juce::uint8*> (buffer.bytes.get());
        for (juce::uint32 i = 0; i < size; ++i)
            take (bytes[i]);
    }

    void take (juce::uint8 byte)
    {
        if (byte >= 0xF8)
        {
            deliver (juce::MidiMessage (byte)); // real-time bytes may sit inside a message
            return;
        }

        if (byte == 0xF0)
        {
            if (unfinished.getSize() > 0)
                noteOnce (strayLogged, "an unfinished SysEx message was dropped: a new one began before its F7");
            unfinished.reset();
            unfinished.append (&byte, 1);
            return;
        }

        if (unfinished.getSize() == 0)
            return; // no message begun: nothing to join the byte to

        if (byte >= 0x80 && byte != 0xF7)
        {
            noteOnce (cutLogged, "an unfinished SysEx message was dropped: a status byte came before its F7");
            unfinished.reset();
            return;
        }

        unfinished.append (&byte, 1);
        if (byte == 0xF7)
        {
            deliver (juce::MidiMessage (unfinished.getData(), (int) unfinished.getSize()));
            unfinished.reset();
        }
        else if ((int) unfinished.getSize() > longestMessage)
        {
            noteOnce (longLogged,
                      "a SysEx message longer than " + juce::String (longestMessage) + " bytes was dropped");
            unfinished.reset();
        }
    }

    void dropUnfinished()
    {
        const std::lock_guard<std::recursive_mutex> guard (deliveryLock);
        unfinished.reset();
    }

    void deliver (const juce::MidiMessage& message)
    {
        const std::lock_guard<std::recursive_mutex> guard (deliveryLock);
        if (delivering)
            receiver.handleIncomingMidi (listedName, timed (message));
    }

    void requeue (winmm::LongBuffer& buffer)
    {
        const std::lock_guard<std::mutex> guard (queueLock);
        if (closing)
            return;
        const auto result = calls.addBuffer (handle, buffer);
        if (result != results::noError)
            noteOnce (requeueLogged, "a SysEx buffer could not be queued again (" + winmm::describe (result) + ")");
    }

    void noteOnce (bool& logged, const juce::String& what)
    {
        if (std::exchange (logged, true))
            return;
        writeLog ("MIDI input [" + listedName + "] : " + what);
    }

    const winmm::InputCalls& calls;
    const winmm::Handle handle;
    Inbox& inbox;
    const juce::String listedName;
    MidiReceiver& receiver;

    // Held while a message is handed to the receiver, so that stop() waits for it.
    std::recursive_mutex deliveryLock;
    bool delivering = false;
    std::mutex queueLock; // held across each midiInAddBuffer, so that none comes after beginClosing
    bool closing = false;
    juce::MemoryBlock unfinished; // the message being joined, under deliveryLock

    // Each kind of trouble is logged once per opening (this thread only).
    bool lostLogged = false, badShortLogged = false, badLongLogged = false, strayLogged = false, cutLogged = false,
         longLogged = false, requeueLogged = false;
};

WinMmInput::WinMmInput (const winmm::InputCalls& callsToUse, juce::uint32 device, const juce::String& identifierToUse,
                        const juce::String& name, MidiReceiver& receiver)
    : calls (callsToUse), identifier (identifierToUse), listedName (name), inbox (std::make_unique<Inbox>())
{
    if (!calls.open)
        return;

    openResult = calls.open (device, *inbox, handle);
    if (!isOpen())
        return;

    {
        const std::lock_guard<std::mutex> guard (openHere().lock);
        openHere().identifiers.add (identifier);
    }

    service = std::make_unique<Service> (calls, handle, *inbox, listedName, receiver);
    queueBuffers();
    service->startThread();
}

WinMmInput::~WinMmInput()
{
    if (!isOpen())
        return;

    close();
    const std::lock_guard<std::mutex> guard (openHere().lock);
    openHere().identifiers.removeString (identifier, false);
}

void WinMmInput::queueBuffers()
{
    for (auto& buffer : inbox->buffers)
    {
        auto result = calls.prepare (handle, *buffer);
        if (result == results::noError)
            result = calls.addBuffer (handle, *buffer);
        if (result != results::noError)
            writeLog ("MIDI input [" + listedName + "] : a SysEx buffer could not be queued (" +
                      winmm::describe (result) + ")");
    }
}

void WinMmInput::start()
{
    if (!started)
    {
        started = true;
        const auto result = calls.start (handle);
        if (result != results::noError)
            writeLog ("MIDI input [" + listedName + "] : the port did not start (" + winmm::describe (result) + ")");
    }
    service->setDelivering (true);
}

void WinMmInput::stop()
{
    service->setDelivering (false);
}

void WinMmInput::close()
{
    service->setDelivering (false);
    service->beginClosing();
    calls.stop (handle);
    calls.reset (handle); // every queued buffer comes back marked done
    service.reset();      // its thread drains what came back, then ends

    bool allBack = true;
    for (auto& buffer : inbox->buffers)
    {
        const auto start = juce::Time::getMillisecondCounter();
        auto result = calls.unprepare (handle, *buffer);
        while (result == results::stillPlaying &&
               juce::Time::getMillisecondCounter() - start < (juce::uint32) unprepareMilliseconds)
        {
            juce::Thread::sleep (1);
            result = calls.unprepare (handle, *buffer);
        }
        allBack = allBack && (result == results::noError || result == results::unprepared);
    }

    const auto closed = calls.close (handle);
    if (closed == results::noError && allBack)
        return;

    writeLog ("MIDI input [" + listedName + "] : the port did not close cleanly (" + winmm::describe (closed) +
              "); its buffers stay with the driver");
    const std::lock_guard<std::mutex> guard (kept().lock);
    kept().objects.push_back (std::shared_ptr<Inbox> (inbox.release()));
}

WinMmListing listWinMmInputs (const winmm::InputCalls& calls)
{
    return listWinMmPorts (calls);
}

std::unique_ptr<MidiInputConnection> openWinMmInput (const winmm::InputCalls& calls, const juce::String& identifier,
                                                     const juce::String& listedName, MidiReceiver& receiver,
                                                     OpenRefusal* refusal)
{
    const auto listing = listWinMmInputs (calls);
    const int index = listing.identifiers.indexOf (identifier);
    if (index < 0 || !calls.open)
        return {};

    // Opened here already (the selector may open the chosen input twice): the first opening gets
    // the messages, and this is no other program's doing.
    const bool alreadyOpenHere = isOpenHere (identifier);

    auto result = results::noError;
    for (int attempt = 0; attempt < openAttempts; ++attempt)
    {
        auto input = std::make_unique<WinMmInput> (calls, listing.devices[index], identifier, listedName, receiver);
        if (input->isOpen())
            return input;
        result = input->getOpenResult();
        if (result != results::allocated || alreadyOpenHere || attempt == openAttempts - 1)
            break;
        juce::Thread::sleep (100);
    }

    if (refusal != nullptr)
    {
        *refusal = winmm::refusalFor (result, listedName);
        refusal->heldByAnotherProgram = refusal->heldByAnotherProgram && !alreadyOpenHere;
    }
    return {};
}

std::unique_ptr<MidiInputConnection> openWinMmInput (const juce::String& identifier, const juce::String& listedName,
                                                     MidiReceiver& receiver, OpenRefusal* refusal)
{
#if JUCE_WINDOWS
    return openWinMmInput (winmm::systemInputCalls(), identifier, listedName, receiver, refusal);
#else
    juce::ignoreUnused (identifier, listedName, receiver, refusal);
    return {};
#endif
}
} // namespace vfu
