#pragma once

#include "simulation/PublishedInstrument.h"

#include <functional>
#include <memory>
#include <mutex>

namespace vfu
{
class Clock;
}

namespace vfu::simulation
{
// A simulated instrument behind ports that a publisher creates (`vfu simulate`): it runs on a
// virtual layer of its own, reports what it does as text lines or JSON objects, can restart into
// its bootloader on its own (there is no user to hold the buttons), and sums up at the end.
class SimulatorSession final : private PublishedInstrument::Listener
{
public:
    struct Options
    {
        InstrumentSettings instrument;
        int autoBootloaderMs = -1; // restart into the bootloader this long after the first identity
                                   // request answered in the firmware; -1: never
        juce::int64 imageSize = 0; // expected image size for progress lines every 10 %; 0: unknown
                                   // (a line every 16 KiB)
        bool json = false;
    };

    // Lines go to `print` (from any thread, one call at a time).
    SimulatorSession (const Options& options, Clock& clock, PortPublisher& publisher,
                      std::function<void (const juce::String&)> print);
    ~SimulatorSession();

    // Creates the ports; false with the reason when that is impossible.
    bool start (juce::String& problem);

    // Closes the ports and prints the summary.
    void finish();

    SimulatedInstrument& getInstrument() const noexcept { return *instrument; }

    struct Summary
    {
        juce::int64 imageBytes = 0;      // of the last image transfer, complete or not
        juce::String imageCheck;         // "valid", "invalid: <why>", or "none"
        juce::String installedVersion;   // empty once erased
        int transferPackets = 0;         // pieces that carried the last image
        double transferMilliseconds = 0; // wall time from its first to its last piece
        int identityRequests = 0;
        int portCreations = 0;
    };

    Summary getSummary() const;

    static juce::String describe (const InstrumentEvent& event);

private:
    void instrumentEvent (const InstrumentEvent& event) override;
    void portsChanged (bool open, const juce::String& problem) override;

    // The steps of an instrument event, under the session's lock. foldStray is true for a repeat of
    // the last stray message, which is only counted; noteImage is false for a progress step that
    // gets no line, and adds the image's fields to the event's extras.
    bool foldStray (const InstrumentEvent& event);
    bool noteImage (const InstrumentEvent& event, double time, juce::DynamicObject& extras);
    void armAutoBootloader (const InstrumentEvent& event);

    // One event: the text line, or in JSON {"event": kind, "time": seconds, "text": line} and extras.
    void emit (const juce::String& kind, const juce::String& text, juce::DynamicObject* extras = nullptr);
    double elapsedSeconds() const;

    const Options options;
    const std::function<void (const juce::String&)> print;
    const double startTime;

    std::unique_ptr<VirtualMidiLayer> layer;
    SimulatedInstrument* instrument = nullptr; // owned by the layer
    std::unique_ptr<PublishedInstrument> published;

    mutable std::mutex lock; // guards what follows and serialises printing
    bool autoBootloaderArmed = false;
    juce::int64 nextProgressLine = 0;
    int pieces = 0;
    double firstPieceTime = 0, lastPieceTime = 0;
    int lastTransferPackets = 0;
    double lastTransferMilliseconds = 0;
    bool finished = false;
    juce::String lastStray; // the last non-SysEx message reported, while more of it arrive
    int straysUnprinted = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SimulatorSession)
};
} // namespace vfu::simulation
