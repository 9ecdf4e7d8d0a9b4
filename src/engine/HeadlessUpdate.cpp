#include "engine/HeadlessUpdate.h"

#include "core/Clock.h"
#include "core/Log.h"
#include "engine/GuardedSignals.h"
#include "core/VersionNumber.h"
#include "midi/MIDIPortsSelector.h"

#include <juce_events/juce_events.h>

#include <optional>

namespace vfu
{
namespace
{
// The button text that means "stop": offered during erases and transfers, never pressed for the user.
const juce::String cancelText{ "Cancel" };
const juce::String instructionsFieldName{ "InstructionsField" };
constexpr int checkIntervalMs = 20;
constexpr int engineStopTimeoutMs = 5000;
// How long (real) an end that waited for the verdict gives the verdict state to show its outcome.
constexpr double verdictGraceMs = 2000.0;
} // namespace

HeadlessUpdate::HeadlessUpdate (std::function<std::unique_ptr<FirmwareUpdater> (FirmwareUpdaterCallback*)> create,
                                Hooks hooksToUse)
    : hooks (std::move (hooksToUse))
{
    updater = create (this);
}

HeadlessUpdate::~HeadlessUpdate()
{
    updater = nullptr; // stops the engine (it waits for it)
}

bool HeadlessUpdate::selectFirmware (const juce::String& version)
{
    const auto chosen = version.isNotEmpty() ? version : updater->getLatestFirmwareVersion();
    if (chosen.isEmpty() || !updater->setFirmwareVersion (chosen))
        return false;

    selectedVersion = chosen;
    return true;
}

juce::String HeadlessUpdate::getIdentifiedVersion() const
{
    std::lock_guard<std::mutex> guard (lock);
    return identifiedVersion;
}

juce::String HeadlessUpdate::getReason() const
{
    std::lock_guard<std::mutex> guard (lock);
    return reason;
}

int HeadlessUpdate::exitCodeFor (Outcome outcome)
{
    switch (outcome)
    {
        case Outcome::succeeded:
            return 0;
        case Outcome::timedOut:
            return 3;
        case Outcome::failed:
        case Outcome::interrupted:
            return 1;
    }
    return 1;
}

const char* HeadlessUpdate::nameOf (Outcome outcome)
{
    switch (outcome)
    {
        case Outcome::succeeded:
            return "succeeded";
        case Outcome::failed:
            return "failed";
        case Outcome::timedOut:
            return "timed out";
        case Outcome::interrupted:
            return "interrupted";
    }
    return "?";
}

bool HeadlessUpdate::isErrorState (const juce::String& stateName)
{
    return stateName.initialSectionNotContaining (" ,;:.") == "Error";
}

// ----- Reports (message thread; the engine waits for each) -----

void HeadlessUpdate::stateChanged (juce::String previousState, juce::String newState)
{
    {
        // The poll that led here has ended: the selector's findings are those of this transition.
        auto& selector = updater->getPortsSelector();
        std::lock_guard<std::mutex> guard (lock);
        state = newState;
        entryMark = updater->getCompletedStateEntries();
        ++entry;
        identifiedAtEntry = selector.isDeviceDetected() && !selector.isBootloaderDetected();
        versionAtEntry = identifiedAtEntry ? selector.getFirmwareVersion() : juce::String();
    }

    if (hooks.reports != nullptr)
        hooks.reports->stateChanged (previousState, newState);
}

void HeadlessUpdate::textFieldChanged (juce::String name, juce::String text, bool visible)
{
    if (name == instructionsFieldName)
    {
        std::lock_guard<std::mutex> guard (lock);
        instructions = visible ? text : juce::String();
    }

    if (hooks.reports != nullptr)
        hooks.reports->textFieldChanged (name, text, visible);
}

void HeadlessUpdate::buttonChanged (juce::String name, juce::String text, bool enabled)
{
    {
        std::lock_guard<std::mutex> guard (lock);
        buttonName = name;
        buttonText = text;
        buttonEnabled = enabled;
    }

    if (hooks.reports != nullptr)
        hooks.reports->buttonChanged (name, text, enabled);
}

void HeadlessUpdate::printMessage (juce::String text, bool flag)
{
    if (hooks.reports != nullptr)
        hooks.reports->printMessage (text, flag);
}

void HeadlessUpdate::progressChanged (double fraction)
{
    {
        std::lock_guard<std::mutex> guard (lock);
        progress = fraction;
        if (fraction > 0.0)
            transferSeen = true;
    }

    if (hooks.reports != nullptr)
        hooks.reports->progressChanged (fraction);
}

void HeadlessUpdate::warningShown (juce::String text)
{
    if (hooks.reports != nullptr)
        hooks.reports->warningShown (text);
}

void HeadlessUpdate::noticeChanged (Notice which, juce::String text)
{
    if (hooks.reports != nullptr)
        hooks.reports->noticeChanged (which, text);
}

void HeadlessUpdate::guardChanged (bool guarded)
{
    if (hooks.reports != nullptr)
        hooks.reports->guardChanged (guarded);
}

void HeadlessUpdate::timeLeftChanged (double secondsLeft)
{
    if (hooks.reports != nullptr)
        hooks.reports->timeLeftChanged (secondsLeft);
}

// ----- The run -----

void HeadlessUpdate::press (const juce::String& name, const juce::String& text)
{
    if (hooks.pressed)
        hooks.pressed (text);

    auto* engine = updater.get();
    juce::MessageManager::callAsync ([engine, name] { engine->buttonPressed (name); });
}

void HeadlessUpdate::tell (const juce::String& text)
{
    writeLog (text);
    if (hooks.told)
        hooks.told (text);
}

HeadlessUpdate::Outcome HeadlessUpdate::finish (Outcome outcome, const juce::String& why)
{
    {
        std::lock_guard<std::mutex> guard (lock);
        reason = why;
    }

    // Never a forced stop: the engine notices the request within its own time-outs.
    updater->signalThreadShouldExit();
    updater->notify();
    updater->waitForThreadToExit (-1);
    return outcome;
}

HeadlessUpdate::Outcome HeadlessUpdate::run (int timeoutMs)
{
    auto& clock = updater->getClock();
    const auto start = clock.now();
    int answeredEntry = -1;
    juce::StringArray pressedTexts; // each button is pressed once at most: a second press erases again
    const auto timeLimitReason = [timeoutMs] { return "no end within " + juce::String (timeoutMs / 1000) + " s"; };

    GuardedSignals signals (
        [this]
        {
            return GuardedSignals::Counts{ hooks.interrupts ? hooks.interrupts() : 0,
                                           hooks.terminations ? hooks.terminations() : 0 };
        });

    // An end that waited for the verdict (a held-back signal, the time limit), and when the guarded
    // phase was last seen to end (real milliseconds).
    std::optional<Outcome> endAfterVerdict;
    bool wasGuarded = false;
    double verdictSeenAt = -verdictGraceMs;

    updater->startThread();

    for (;;)
    {
        clock.sleep (checkIntervalMs);

        juce::String currentName, currentText, currentState, shownInstructions;
        bool enabled = false, transfer = false, identified = false, entryDone = false;
        int currentEntry = 0;
        juce::String version;
        {
            std::lock_guard<std::mutex> guard (lock);
            currentName = buttonName;
            currentText = buttonText;
            enabled = buttonEnabled;
            transfer = transferSeen;
            identified = identifiedAtEntry;
            version = versionAtEntry;
            currentEntry = entry;
            currentState = state;
            shownInstructions = instructions;
            entryDone = entryMark >= 0 && updater->getCompletedStateEntries() > entryMark;
        }

        const bool guarded = updater->isGuarded();
        const auto realNow = juce::Time::getMillisecondCounterHiRes();
        if (wasGuarded && !guarded)
            verdictSeenAt = realNow;
        wasGuarded = guarded;

        switch (signals.look (guarded, realNow))
        {
            case GuardedSignals::Action::goOn:
                break;
            case GuardedSignals::Action::warnFirstInterrupt:
                tell (GuardedSignals::firstInterruptText);
                break;
            case GuardedSignals::Action::deferTermination:
                tell (GuardedSignals::terminationDeferredText);
                break;
            case GuardedSignals::Action::stop:
                return finish (Outcome::interrupted, "interrupted");
            case GuardedSignals::Action::stopDuringUpdate:
                return finish (Outcome::interrupted, GuardedSignals::stoppedDuringUpdateText);
            case GuardedSignals::Action::stopAfterVerdict:
                endAfterVerdict = Outcome::interrupted;
                break;
        }

        // The time limit never cuts an erase or a transfer short: it waits for the verdict.
        if (!endAfterVerdict && clock.now() - start > timeoutMs)
        {
            if (!guarded && verdictSeenAt < 0.0)
                return finish (Outcome::timedOut, timeLimitReason());
            endAfterVerdict = Outcome::timedOut;
        }

        if (endAfterVerdict && !guarded)
        {
            // The verdict state shows its outcome first; an update at rest after its transfer is
            // judged as usual below.
            if (!entryDone && realNow - verdictSeenAt < verdictGraceMs)
                continue;
            if (!(entryDone && transfer))
                return finish (*endAfterVerdict,
                               *endAfterVerdict == Outcome::timedOut ? timeLimitReason() : juce::String ("interrupted"));
        }

        if (!entryDone)
            continue;

        // The error state's instructions are what the person has to do next; the run cannot.
        if (isErrorState (currentState))
            return finish (Outcome::failed,
                           "reached " + currentState.quoted() +
                               (shownInstructions.isNotEmpty() ? ": " + shownInstructions : juce::String()));

        const bool offered = enabled && currentText != cancelText && currentName.isNotEmpty();

        if (offered)
        {
            if (answeredEntry == currentEntry)
                continue;

            answeredEntry = currentEntry;

            // After a transfer, or once pressed, a button starts the erase and transfer over again.
            if (transfer)
                return finish (Outcome::failed,
                               currentText.quoted() + " is offered after the transfer; not pressed again");
            if (pressedTexts.contains (currentText))
                return finish (Outcome::failed, currentText.quoted() + " is offered again; it is pressed once at most");

            const auto millisecondsLeft = (int) juce::jmax ((juce::int64) 0, timeoutMs - (clock.now() - start));
            switch (hooks.confirm ? hooks.confirm (currentText, millisecondsLeft) : Answer::yes)
            {
                case Answer::yes:
                    break;
                case Answer::no:
                    return finish (Outcome::failed, "the updater waits for \"" + currentText + "\" to be pressed");
                case Answer::interrupted:
                    return finish (Outcome::interrupted, "interrupted");
                case Answer::timeUp:
                    return finish (Outcome::timedOut, timeLimitReason());
            }

            pressedTexts.add (currentText);
            press (currentName, currentText);
            continue;
        }

        if (enabled || !transfer)
            continue; // a transfer or erase in progress (Cancel offered), or no transfer yet

        // At rest after a transfer.
        {
            std::lock_guard<std::mutex> guard (lock);
            identifiedVersion = version;
        }

        if (!identified)
            return finish (Outcome::failed, "the instrument was not identified in its firmware after the transfer");

        if (parseVersionNumber (version) != parseVersionNumber (selectedVersion))
            return finish (Outcome::failed,
                           "the instrument reports " + version + ", the package is " + selectedVersion);

        return finish (Outcome::succeeded, {});
    }
}
} // namespace vfu
