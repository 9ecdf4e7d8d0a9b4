#pragma once

#include "midi/MidiLayer.h"
#include "midi/native/winmm/WinMmCalls.h"
#include "midi/native/winmm/WinMmListing.h"

#include <memory>

namespace vfu
{
// An output to a WinMM MIDI port that sends every SysEx piece exactly as given and says what became
// of it.
//
// JUCE 7.0.5's WinMM output packs any message of up to 3 bytes that does not start with F0 into a
// short message, which carries a status byte first: a piece of a transfer of 1 to 3 bytes (an image
// shorter than 4 bytes; longer pieces go out long whatever their first byte) reaches the instrument
// as whatever the driver makes of it. It also waits for a long message's completion without a
// bound and cannot report a failure. Here everything but one complete channel or system message
// (F0 and F7 excepted) goes out as a long message, bytes unchanged: prepared, handed over, awaited,
// and unprepared on every path. The wait ends on completion, after a bound (two seconds and a
// millisecond per byte: about three times the bytes' time on a MIDI cable), or at once when the
// sending juce::Thread is asked to stop. An unfinished message is taken back with midiOutReset
// (which also silences every note on the port) and reported as refused; a buffer the driver still
// holds even then stays allocated, untouched, until the port is closed (for the rest of the process
// if the close fails too), so the driver never writes into freed memory.
//
// One thread at a time sends through one output (the engine, or the sender during a transfer).
class WinMmOutput final : public MidiOutputConnection
{
public:
    static constexpr int defaultCompletionMilliseconds = 2000;

    // Takes an opened handle; `completionMilliseconds` is the fixed part of the wait for a long
    // message (a test shortens it).
    WinMmOutput (const winmm::Calls& calls, winmm::Handle handle, const juce::String& listedName,
                 int completionMilliseconds = defaultCompletionMilliseconds);

    // Resets the port only if a buffer is still with the driver, then closes it.
    ~WinMmOutput() override;

    MidiSendResult sendMessageNow (const juce::MidiMessage& message) override;
    juce::String getName() const override { return listedName; }

    // True for one complete message with a status byte other than F0 and F7: the short route.
    static bool goesAsShortMessage (const juce::uint8* data, int size) noexcept;

    // The outcome of a WinMM result for the caller.
    static MidiSendResult toSendResult (winmm::Result result) noexcept;

private:
    MidiSendResult sendShort (const juce::uint8* data, int size);
    MidiSendResult sendLong (const juce::uint8* data, int size);
    winmm::Result handOver (winmm::LongBuffer& buffer);
    bool awaitCompletion (const winmm::LongBuffer& buffer);
    void release (std::unique_ptr<winmm::LongBuffer> buffer);
    void noteFailure (const juce::String& what);

    const winmm::Calls calls;
    const winmm::Handle handle;
    const juce::String listedName;
    const int completionMilliseconds;

    // Buffers the driver would not give back; freed only once the port has closed.
    std::vector<std::unique_ptr<winmm::LongBuffer>> heldByDriver;
    bool failureLogged = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WinMmOutput)
};

// The WinMM outputs as JUCE lists them, each with its device number (WinMmListing.h).
using WinMmOutputListing = WinMmListing;
WinMmOutputListing listWinMmOutputs (const winmm::Calls& calls);

// Opens the output listed now under `identifier`, by its device number; null when there is none or
// it will not open, and then `refusal` (if given) says why.
std::unique_ptr<MidiOutputConnection>
openWinMmOutput (const winmm::Calls& calls, const juce::String& identifier, const juce::String& listedName,
                 int completionMilliseconds = WinMmOutput::defaultCompletionMilliseconds,
                 OpenRefusal* refusal = nullptr);

// The same with Windows' own calls; null on other systems.
std::unique_ptr<MidiOutputConnection> openWinMmOutput (const juce::String& identifier, const juce::String& listedName,
                                                       OpenRefusal* refusal = nullptr);
} // namespace vfu
