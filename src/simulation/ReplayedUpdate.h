#pragma once

#include "core/Clock.h"
#include "definitions/FirmwareUpdater.h"
#include "simulation/RecordingReplay.h"

#include <memory>

namespace vfu
{
// A FirmwareUpdater built as `vfu run` builds it, for the recording's device model, on a virtual
// layer whose only instrument is the recording (RecordingReplay). Used by `vfu run --replay` and the
// tests that replay the recordings under tests/data/recordings.
class ReplayedUpdate final
{
public:
    struct Options
    {
        juce::File definitionFile;            // File(): the inbuilt document
        juce::Array<juce::File> packageFiles; // package files or folders
        juce::String firmwareVersion;         // empty: the recording's package, else the newest
        double speed = 1.0;                   // above 1: a ScaledClock
        Clock* clock = nullptr;               // when set, this clock instead (it must outlive the update)
    };

    // Throws FirmwareUpdater::FirmwareUpdaterException for a bad document; check getProblem() before
    // starting. Reports go to `receiver` (may be null), on the message thread.
    ReplayedUpdate (recording::Recording recording, const Options& options, FirmwareUpdaterCallback* receiver);
    ~ReplayedUpdate();

    const juce::String& getProblem() const noexcept { return problem; }

    // Shows the recorded ports and starts the engine.
    void start();

    FirmwareUpdater& getUpdater() const noexcept { return *updater; }
    // Null when construction stopped before the updater was built.
    FirmwareUpdater* findUpdater() const noexcept { return updater.get(); }
    simulation::RecordingReplay& getReplay() const noexcept { return *replay; }
    Clock& getClock() const noexcept { return *clock; }

private:
    std::unique_ptr<Clock> ownClock;
    Clock* clock = nullptr;
    std::unique_ptr<simulation::RecordingReplay> replay; // outlives the layer, whose devices call it
    std::unique_ptr<VirtualMidiLayer> layer;
    std::unique_ptr<MIDIPortsSelector> selector;
    std::unique_ptr<FirmwareUpdater> updater;
    juce::String problem;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ReplayedUpdate)
};
} // namespace vfu
