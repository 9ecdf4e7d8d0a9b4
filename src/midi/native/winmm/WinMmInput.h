#pragma once

#include "midi/MidiLayer.h"
#include "midi/native/winmm/WinMmCalls.h"
#include "midi/native/winmm/WinMmListing.h"

#include <memory>

namespace vfu
{
// An input from a WinMM MIDI port that hands every SysEx message over whole, however the driver
// cuts it. Windows' new MIDI service delivers one message in several MIM_LONGDATA buffers (the
// classic stack mostly in one); JUCE 7.0.5 passes each buffer on as it comes. Here the pieces are
// joined until their F7; a new F0 before it, or an MIM_LONGERROR, drops the unfinished message.
// Short messages come from MIM_DATA.
//
// Several buffers stay queued with the driver. The driver's callback does no WinMM call (WinMM
// forbids it): it notes what arrived and wakes the input's own thread, which joins the pieces,
// delivers the messages, puts each buffer back in the queue and writes the log. Closing stops,
// resets, unprepares every buffer and closes, in that order, from the closing thread; buffers a
// driver will not give back stay allocated for the rest of the process.
//
// Messages reach the receiver only between start() and stop(); stop() waits for a delivery in
// progress.
class WinMmInput final : public MidiInputConnection
{
public:
    static constexpr int bufferCount = 16;
    static constexpr int bufferBytes = 1024;
    // An unfinished message longer than this is dropped: no reply the updater waits for comes near.
    static constexpr int longestMessage = 65536;

    // Opens WinMM device `device`, listed under `identifier`, and queues the buffers; check isOpen().
    WinMmInput (const winmm::InputCalls& calls, juce::uint32 device, const juce::String& identifier,
                const juce::String& listedName, MidiReceiver& receiver);
    ~WinMmInput() override;

    // The result of midiInOpen.
    winmm::Result getOpenResult() const noexcept { return openResult; }
    bool isOpen() const noexcept { return openResult == winmm::results::noError; }

    void start() override;
    void stop() override;
    juce::String getName() const override { return listedName; }

private:
    class Inbox;
    class Service;

    void queueBuffers();
    void close();

    const winmm::InputCalls calls;
    const juce::String identifier, listedName;
    std::unique_ptr<Inbox> inbox; // what the driver's callback reaches; kept for good if the port will not close
    std::unique_ptr<Service> service;
    winmm::Handle handle = nullptr;
    winmm::Result openResult = winmm::results::error;
    bool started = false; // midiInStart made (the caller's thread only)

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WinMmInput)
};

WinMmListing listWinMmInputs (const winmm::InputCalls& calls);

// Opens the input listed now under `identifier`, by its device number; null when there is none or it
// will not open, and then `refusal` (if given) says why.
std::unique_ptr<MidiInputConnection> openWinMmInput (const winmm::InputCalls& calls, const juce::String& identifier,
                                                     const juce::String& listedName, MidiReceiver& receiver,
                                                     OpenRefusal* refusal = nullptr);

// The same with Windows' own calls; null on other systems.
std::unique_ptr<MidiInputConnection> openWinMmInput (const juce::String& identifier, const juce::String& listedName,
                                                     MidiReceiver& receiver, OpenRefusal* refusal = nullptr);
} // namespace vfu
