#pragma once

#include "definitions/FirmwareUpdater.h"
#include "engine/GuardedSignals.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace vfu
{
// Runs a FirmwareUpdater without a window (`vfu update`): passes its reports on, answers the
// buttons it offers, and decides when the update has ended and how.
//
// Ends:
// - after a transfer, once the machine rests (a state whose instructions have run leaves nothing to
//   press): succeeded when the instrument was identified in its firmware on entering that state and
//   reports the selected package's version, failed otherwise;
// - failed as soon as the instructions of an error state have run (see isErrorState): only a person
//   can resolve it, so waiting would only run into the time limit;
// - failed when a button is offered after a transfer, or offered again after it was pressed once:
//   pressing it would erase and flash the instrument once more;
// - failed when an offered button is declined (the machine would wait for the user);
// - timed out after the time limit; during the guarded phase the limit waits for the verdict;
// - interrupted: by a signal as GuardedSignals decides (during the guarded phase a first Ctrl-C
//   only warns, a second within 3 s stops, SIGTERM and SIGHUP wait for the verdict).
// After the guarded phase, an end that waited for the verdict still lets an update that came to
// rest be judged as usual. The engine thread is always stopped before run() returns.
class HeadlessUpdate final : private FirmwareUpdaterCallback
{
public:
    enum class Outcome
    {
        succeeded,
        failed,
        timedOut,
        interrupted
    };

    // What a question about pressing a button came to.
    enum class Answer
    {
        yes,
        no,
        interrupted, // an interrupt came before an answer
        timeUp       // the time left passed before an answer
    };

    struct Hooks
    {
        FirmwareUpdaterCallback* reports = nullptr; // every report, on the message thread
        // Asked on run()'s thread, with the milliseconds left of the run's time limit; null: yes.
        std::function<Answer (const juce::String& buttonText, int millisecondsLeft)> confirm;
        std::function<int()> interrupts;                              // how many interrupts so far; null: none
        std::function<int()> terminations;                            // SIGTERM and SIGHUP so far; null: none
        std::function<void (const juce::String& buttonText)> pressed; // told before a button is pressed
        // What the person running the update must know now (a first Ctrl-C during the update), on
        // run()'s thread.
        std::function<void (const juce::String& text)> told;
    };

    // `create` builds the updater with the callback it is given (this object).
    HeadlessUpdate (std::function<std::unique_ptr<FirmwareUpdater> (FirmwareUpdaterCallback*)> create, Hooks hooks);
    ~HeadlessUpdate() override;

    FirmwareUpdater& getUpdater() const noexcept { return *updater; }

    // Selects the package version (empty: the newest); false when there is none of that version.
    bool selectFirmware (const juce::String& version);
    const juce::String& getSelectedVersion() const noexcept { return selectedVersion; }

    // Starts the engine and waits for the end (clock milliseconds of `timeoutMs`). Call it on a
    // thread other than the message thread, which must be running its loop.
    Outcome run (int timeoutMs);

    // What the end was about: the version identified at the end, and why it failed.
    juce::String getIdentifiedVersion() const;
    juce::String getReason() const;

    static int exitCodeFor (Outcome outcome);
    static const char* nameOf (Outcome outcome);

    // An error state is one whose name begins with the word "Error" ("Error, no device"): the
    // definitions name every state that waits for a person to put things right that way.
    static bool isErrorState (const juce::String& stateName);

    // ----- The decision taken at each check of the run -----

    // What the reports have shown by one check, and whether the update is guarded then.
    struct Snapshot
    {
        juce::String state;
        int entry = 0;          // counts state entries, so that an offer is answered once per entry
        bool entryDone = false; // the instructions of the current state have run
        bool identifiedAtEntry = false;
        juce::String versionAtEntry;
        juce::String buttonName, buttonText;
        bool buttonEnabled = false;
        bool transferSeen = false;
        juce::String instructions; // the instructions shown, empty when hidden
        bool guarded = false;
    };

    // What the run has done and holds between checks.
    struct RunState
    {
        juce::String selectedVersion;
        int timeoutMs = 0;
        std::optional<Outcome> endAfterVerdict; // an end that waits for the verdict
        bool inVerdictGrace = false;            // the verdict state may still show its outcome
        int answeredEntry = -1;
        juce::StringArray pressedTexts; // each button is pressed once at most
    };

    struct Decision
    {
        enum class Action
        {
            wait,
            ask, // confirm, then press the button offered
            end
        };

        Action action = Action::wait;
        Outcome outcome = Outcome::failed; // of an end
        juce::String reason;               // of an end
        bool cameToRest = false;           // an end judging an update at rest after its transfer
    };

    // What to do next, from what one check saw and what the run holds; no effects.
    static Decision decide (const Snapshot& snapshot, const RunState& run);

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

    GuardedSignals::Counts countSignals() const;
    Snapshot takeSnapshot() const;
    std::optional<Decision> watchSignals (GuardedSignals& signals, bool guarded, double realNow, RunState& run);
    Outcome conclude (const Decision& end, const Snapshot& snapshot);
    std::optional<Decision> askAndPress (const Snapshot& snapshot, RunState& run, int millisecondsLeft);
    void press (const juce::String& buttonName, const juce::String& buttonText);
    void tell (const juce::String& text);
    Outcome finish (Outcome outcome, const juce::String& reason);

    Hooks hooks;
    std::unique_ptr<FirmwareUpdater> updater;
    juce::String selectedVersion;

    // Guards what the reports (message thread) hand to run().
    mutable std::mutex lock;
    juce::String state;
    int entryMark = -1; // completed entries when the state was entered
    int entry = 0;      // counts entries, so that an offer is answered once per entry
    bool identifiedAtEntry = false;
    juce::String versionAtEntry;
    juce::String buttonName, buttonText;
    bool buttonEnabled = false;
    bool transferSeen = false;
    double progress = 0.0;
    juce::String instructions; // the instructions shown, empty when hidden
    juce::String identifiedVersion, reason;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HeadlessUpdate)
};
} // namespace vfu
