#include "engine/HeadlessUpdate.h"

#include "core/Clock.h"
#include "core/Log.h"
#include "definitions/PanelFieldNames.h"
#include "engine/GuardedSignals.h"
#include "core/VersionNumber.h"
#include "midi/MIDIPortsSelector.h"

#include <juce_events/juce_events.h>

namespace vfu
{
namespace
{
// The button text that means "stop": offered during erases and transfers, never pressed for the user.
const juce::String cancelText{ "Cancel" };
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
    if (name == definitions::instructionsFieldName)
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

// ----- The decision at each check (no effects) -----

namespace
{
using Decision = HeadlessUpdate::Decision;

Decision waitDecision()
{
    return {};
}

Decision endDecision (HeadlessUpdate::Outcome outcome, const juce::String& reason)
{
    Decision end;
    end.action = Decision::Action::end;
    end.outcome = outcome;
    end.reason = reason;
    return end;
}

juce::String timeLimitReason (int timeoutMs)
{
    return "no end within " + juce::String (timeoutMs / 1000) + " s";
}

juce::String pendingEndReason (HeadlessUpdate::Outcome outcome, int timeoutMs)
{
    return outcome == HeadlessUpdate::Outcome::timedOut ? timeLimitReason (timeoutMs) : juce::String ("interrupted");
}

// A button the run may press: anything enabled but Cancel.
bool isOffered (const HeadlessUpdate::Snapshot& snapshot)
{
    return snapshot.buttonEnabled && snapshot.buttonText != cancelText && snapshot.buttonName.isNotEmpty();
}

// After a transfer, or once pressed, a button starts the erase and transfer over again.
Decision answerOffer (const HeadlessUpdate::Snapshot& snapshot, const HeadlessUpdate::RunState& run)
{
    if (run.answeredEntry == snapshot.entry)
        return waitDecision();

    const auto& text = snapshot.buttonText;
    if (snapshot.transferSeen)
        return endDecision (HeadlessUpdate::Outcome::failed,
                            text.quoted() + " is offered after the transfer; not pressed again");
    if (run.pressedTexts.contains (text))
        return endDecision (HeadlessUpdate::Outcome::failed,
                            text.quoted() + " is offered again; it is pressed once at most");

    Decision ask;
    ask.action = Decision::Action::ask;
    return ask;
}

// An update at rest after its transfer: the instrument must be identified in its firmware and
// report the selected package's version.
Decision judgeRest (const HeadlessUpdate::Snapshot& snapshot, const juce::String& selectedVersion)
{
    auto verdict = endDecision (HeadlessUpdate::Outcome::succeeded, {});
    const auto& version = snapshot.versionAtEntry;

    if (!snapshot.identifiedAtEntry)
        verdict = endDecision (HeadlessUpdate::Outcome::failed,
                               "the instrument was not identified in its firmware after the transfer");
    else if (parseVersionNumber (version) != parseVersionNumber (selectedVersion))
        verdict = endDecision (HeadlessUpdate::Outcome::failed,
                               "the instrument reports " + version + ", the package is " + selectedVersion);

    verdict.cameToRest = true;
    return verdict;
}
} // namespace

HeadlessUpdate::Decision HeadlessUpdate::decide (const Snapshot& snapshot, const RunState& run)
{
    if (run.endAfterVerdict && !snapshot.guarded)
    {
        // The verdict state shows its outcome first; an update at rest after its transfer is
        // judged as usual below.
        if (!snapshot.entryDone && run.inVerdictGrace)
            return waitDecision();
        if (!(snapshot.entryDone && snapshot.transferSeen))
            return endDecision (*run.endAfterVerdict, pendingEndReason (*run.endAfterVerdict, run.timeoutMs));
    }

    if (!snapshot.entryDone)
        return waitDecision();

    // The error state's instructions are what the person has to do next; the run cannot.
    if (isErrorState (snapshot.state))
        return endDecision (Outcome::failed,
                            "reached " + snapshot.state.quoted() +
                                (snapshot.instructions.isNotEmpty() ? ": " + snapshot.instructions : juce::String()));

    if (isOffered (snapshot))
        return answerOffer (snapshot, run);

    if (snapshot.buttonEnabled || !snapshot.transferSeen)
        return waitDecision(); // a transfer or erase in progress (Cancel offered), or no transfer yet

    return judgeRest (snapshot, run.selectedVersion);
}

// ----- The steps of the run -----

namespace
{
// When the guarded phase was last seen to end, in real milliseconds.
struct VerdictWatch
{
    void look (bool guarded, double realNow)
    {
        if (wasGuarded && !guarded)
            seenAt = realNow;
        wasGuarded = guarded;
    }

    bool isSeen() const noexcept { return seenAt >= 0.0; }
    bool isInGrace (double realNow) const noexcept { return realNow - seenAt < verdictGraceMs; }

    bool wasGuarded = false;
    double seenAt = -verdictGraceMs; // negative: not yet
};

// The time limit never cuts an erase or a transfer short: it waits for the verdict.
std::optional<Decision> watchTimeLimit (bool overTime, bool guarded, const VerdictWatch& verdict,
                                        HeadlessUpdate::RunState& held)
{
    if (held.endAfterVerdict || !overTime)
        return std::nullopt;

    if (!guarded && !verdict.isSeen())
        return endDecision (HeadlessUpdate::Outcome::timedOut, timeLimitReason (held.timeoutMs));

    held.endAfterVerdict = HeadlessUpdate::Outcome::timedOut;
    return std::nullopt;
}
} // namespace

GuardedSignals::Counts HeadlessUpdate::countSignals() const
{
    return { hooks.interrupts ? hooks.interrupts() : 0, hooks.terminations ? hooks.terminations() : 0 };
}

HeadlessUpdate::Snapshot HeadlessUpdate::takeSnapshot() const
{
    Snapshot snapshot;
    {
        std::lock_guard<std::mutex> guard (lock);
        snapshot.state = state;
        snapshot.entry = entry;
        snapshot.entryDone = entryMark >= 0 && updater->getCompletedStateEntries() > entryMark;
        snapshot.identifiedAtEntry = identifiedAtEntry;
        snapshot.versionAtEntry = versionAtEntry;
        snapshot.buttonName = buttonName;
        snapshot.buttonText = buttonText;
        snapshot.buttonEnabled = buttonEnabled;
        snapshot.transferSeen = transferSeen;
        snapshot.instructions = instructions;
    }
    snapshot.guarded = updater->isGuarded();
    return snapshot;
}

std::optional<HeadlessUpdate::Decision> HeadlessUpdate::watchSignals (GuardedSignals& signals, bool guarded,
                                                                      double realNow, RunState& run)
{
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
            return endDecision (Outcome::interrupted, "interrupted");
        case GuardedSignals::Action::stopDuringUpdate:
            return endDecision (Outcome::interrupted, GuardedSignals::stoppedDuringUpdateText);
        case GuardedSignals::Action::stopAfterVerdict:
            run.endAfterVerdict = Outcome::interrupted;
            break;
    }
    return std::nullopt;
}

HeadlessUpdate::Outcome HeadlessUpdate::conclude (const Decision& end, const Snapshot& snapshot)
{
    if (end.cameToRest)
    {
        std::lock_guard<std::mutex> guard (lock);
        identifiedVersion = snapshot.versionAtEntry;
    }
    return finish (end.outcome, end.reason);
}

std::optional<HeadlessUpdate::Decision> HeadlessUpdate::askAndPress (const Snapshot& snapshot, RunState& run,
                                                                     int millisecondsLeft)
{
    run.answeredEntry = snapshot.entry;
    const auto& text = snapshot.buttonText;

    switch (hooks.confirm ? hooks.confirm (text, millisecondsLeft) : Answer::yes)
    {
        case Answer::yes:
            break;
        case Answer::no:
            return endDecision (Outcome::failed, "the updater waits for \"" + text + "\" to be pressed");
        case Answer::interrupted:
            return endDecision (Outcome::interrupted, "interrupted");
        case Answer::timeUp:
            return endDecision (Outcome::timedOut, timeLimitReason (run.timeoutMs));
    }

    run.pressedTexts.add (text);
    press (snapshot.buttonName, text);
    return std::nullopt;
}

HeadlessUpdate::Outcome HeadlessUpdate::run (int timeoutMs)
{
    auto& clock = updater->getClock();
    const auto start = clock.now();

    GuardedSignals signals ([this] { return countSignals(); });

    RunState held;
    held.selectedVersion = selectedVersion;
    held.timeoutMs = timeoutMs;

    VerdictWatch verdict;

    updater->startThread();

    for (;;)
    {
        clock.sleep (checkIntervalMs);

        const auto snapshot = takeSnapshot();
        const auto realNow = juce::Time::getMillisecondCounterHiRes();
        verdict.look (snapshot.guarded, realNow);

        if (const auto stop = watchSignals (signals, snapshot.guarded, realNow, held))
            return finish (stop->outcome, stop->reason);

        if (const auto stop = watchTimeLimit (clock.now() - start > timeoutMs, snapshot.guarded, verdict, held))
            return finish (stop->outcome, stop->reason);
        held.inVerdictGrace = verdict.isInGrace (realNow);

        const auto next = decide (snapshot, held);
        if (next.action == Decision::Action::end)
            return conclude (next, snapshot);

        if (next.action == Decision::Action::ask)
        {
            const auto millisecondsLeft = (int) juce::jmax ((juce::int64) 0, timeoutMs - (clock.now() - start));
            if (const auto end = askAndPress (snapshot, held, millisecondsLeft))
                return finish (end->outcome, end->reason);
        }
    }
}
} // namespace vfu
