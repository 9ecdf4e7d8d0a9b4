#pragma once

#include "definitions/FirmwareUpdater.h"

#include <functional>
#include <memory>
#include <mutex>

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
// - timed out after the time limit;
// - interrupted: a first interrupt during a transfer presses Cancel and waits for the machine to
//   rest, any other interrupt stops at once.
// The engine thread is always stopped before run() returns.
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
        std::function<void (const juce::String& buttonText)> pressed; // told before a button is pressed
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

private:
    void stateChanged (juce::String previousState, juce::String newState) override;
    void textFieldChanged (juce::String name, juce::String text, bool visible) override;
    void buttonChanged (juce::String name, juce::String text, bool enabled) override;
    void printMessage (juce::String text, bool flag) override;
    void progressChanged (double fraction) override;
    void warningShown (juce::String text) override;
    void noticeChanged (Notice which, juce::String text) override;

    void press (const juce::String& buttonName, const juce::String& buttonText);
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
