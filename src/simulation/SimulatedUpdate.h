#pragma once

#include "definitions/FirmwareUpdater.h"
#include "simulation/SimulatedUser.h"
#include "simulation/SimulationSpec.h"
#include "core/Clock.h"
#include "midi/RecordingMidiLayer.h"

#include <memory>

namespace vfu
{
// A FirmwareUpdater built as the app builds it, but wired to the virtual MIDI layer with one
// simulated instrument (after some silent ports) and a simulated user who restarts the instrument
// into its bootloader when the instructions ask for it. Used by `vfu run` and the whole-update tests.
class SimulatedUpdate final : private FirmwareUpdaterCallback
{
public:
    struct Options
    {
        juce::String definitionText; // empty: the definitionFile, or else the inbuilt document
        juce::File definitionFile;   // used when definitionText is empty and this is not File()
        juce::String deviceName = "Quillbox";
        juce::Array<juce::File> packageFiles; // package files or folders; the program file is not searched
        juce::String firmwareVersion;         // empty: the newest package
        double speed = 1.0;                   // above 1: a ScaledClock
        Clock* clock = nullptr;               // when set, this clock instead (it must outlive the update)
        int silentPorts = 1;
        int userReactionMilliseconds = 3000;
        bool openPortsOnMessageThread = true;
        juce::File recordingFile;                              // when set, what the updater exchanges is recorded there
        juce::String programName;                              // the program and version a recording names
        std::function<std::unique_ptr<PowerHold>()> holdPower; // null: the platform's hold (UpdaterEnvironment)
    };

    // Throws FirmwareUpdater::FirmwareUpdaterException for a bad document. Check getProblem()
    // before starting: a missing package or version leaves a problem text. Reports go to
    // `receiver` (may be null), on the message thread.
    SimulatedUpdate (const simulation::InstrumentSettings& instrument, const Options& options,
                     FirmwareUpdaterCallback* receiver);
    ~SimulatedUpdate() override;

    // Empty when the updater is ready to start.
    const juce::String& getProblem() const noexcept { return problem; }

    FirmwareUpdater& getUpdater() const noexcept { return *updater; }
    // Null when construction stopped before the updater was built.
    FirmwareUpdater* findUpdater() const noexcept { return updater.get(); }
    simulation::SimulatedInstrument& getInstrument() const noexcept { return simulation->getInstrument(); }
    simulation::SimulatedUser& getUser() const noexcept { return *user; }
    VirtualMidiLayer& getLayer() const noexcept { return simulation->getLayer(); }
    MIDIPortsSelector& getSelector() const noexcept { return *selector; }
    Clock& getClock() const noexcept { return *clock; }

    // Sets one fault by name ("drop-replies", "reply-delay=MS", "garble-replies", "short-replies",
    // "unrelated-sysex", "vanish-after=BYTES", "never-come-back"); false with a reason otherwise.
    static bool applyFault (simulation::InstrumentFaults& faults, const juce::String& fault, juce::String& error);
    static juce::StringArray getFaultNames();

private:
    void stateChanged (juce::String previousState, juce::String newState) override;
    void textFieldChanged (juce::String name, juce::String text, bool visible) override;
    void buttonChanged (juce::String name, juce::String text, bool enabled) override;
    void printMessage (juce::String text, bool flag) override;
    void progressChanged (double fraction) override;
    void warningShown (juce::String text) override;
    void noticeChanged (Notice which, juce::String text) override;
    void guardChanged (bool guarded) override;
    void timeLeftChanged (double secondsLeft) override;

    FirmwareUpdaterCallback* const receiver;
    std::unique_ptr<Clock> ownClock;
    Clock* clock = nullptr;
    std::unique_ptr<simulation::Simulation> simulation;
    std::unique_ptr<RecordingMidiLayer> recorder;
    std::unique_ptr<MIDIPortsSelector> selector;
    std::unique_ptr<simulation::SimulatedUser> user;
    std::unique_ptr<FirmwareUpdater> updater;
    juce::String problem;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SimulatedUpdate)
};
} // namespace vfu
