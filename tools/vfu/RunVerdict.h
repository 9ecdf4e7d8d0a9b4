#pragma once

#include "definitions/FirmwareUpdater.h"

#include <mutex>

namespace vfu::tool
{
// What a `vfu run` came to, judged as `vfu update` judges an update (HeadlessUpdate): told every
// report on the message thread, asked on the run's own thread.
class RunVerdict
{
public:
    explicit RunVerdict (FirmwareUpdater& updaterToJudge) : updater (updaterToJudge) {}

    // The state's entry, reported before its instructions run; the poll that led to it has ended.
    void stateEntered (const juce::String& state);
    void progressChanged (double fraction);
    void buttonChanged (bool enabled);
    void instructionsShown (const juce::String& text);

    // True once an error state's instructions have run and no --click waits for it: only a person
    // could put things right, so waiting on would only reach --limit.
    bool restsInErrorState (const juce::StringArray& clickedStates) const;

    struct Result
    {
        int exitCode;
        juce::String line; // "result: ..." for a person
    };

    // The verdict on the state the run ended in: failed in an error state, or at rest after a
    // transfer with the instrument not identified in its firmware or reporting another version
    // than the package's; succeeded at rest after a transfer with that version; else the run
    // stopped before the update's end (exit code 0).
    Result judge() const;

    // The state names `vfu run` options may name that the machine does not have, for usage errors.
    static juce::StringArray findUnknownStates (const FirmwareUpdater& updater, const juce::StringArray& names);

private:
    bool entryDone() const;

    FirmwareUpdater& updater;
    mutable std::mutex lock; // guards everything below
    juce::String state, instructions, identifiedVersion;
    int entryMark = -1;
    bool identified = false, transferSeen = false, buttonEnabled = false;
};
} // namespace vfu::tool
