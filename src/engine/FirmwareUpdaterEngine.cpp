// The executor: runs the state machine of one device model on the engine thread.
#include "definitions/FirmwareUpdater.h"

#include "definitions/InstructionVisit.h"
#include "core/Log.h"
#include "midi/UpdateObserver.h"
#include "midi/MIDIPortsSelector.h"
#include "core/Clock.h"
#include "packages/FirmwarePackageStore.h"

namespace
{
// Longest real pause of a pass that polled nothing (or whose poll returned at once), so that
// such passes do not spin while requests, restarts and stops still act within a few tens of ms.
constexpr int idlePassMilliseconds = 10;

// How long (engine clock) a pass that found nothing to ask waits for something to change before it
// lists the ports again. Where the MIDI layer tells of port changes the longer wait is only a
// safety net (a port choice made in the panel is seen by then); where it cannot tell, the ports are
// listed this often.
constexpr int portChangeRecheckMilliseconds = 1000;
constexpr int portListRecheckMilliseconds = 100;

// Longest real wait of an engine with nothing to enter; requests, restarts and stops end it at once.
constexpr int nothingPendingWaitMilliseconds = 1000;
} // namespace

FirmwareUpdater::~FirmwareUpdater()
{
    stopThread (5000);

    // Reports still queued on the message thread must not reach the callback, whose owner may go
    // right after this updater.
    reports.close();
}

// ----- Hand-overs between the engine thread and the message thread -----

const FirmwareUpdater::State* FirmwareUpdater::getCurrentState() const
{
    const std::lock_guard<std::mutex> sl (stateLock);
    return currentState;
}

const FirmwareUpdater::State* FirmwareUpdater::getPendingState() const
{
    const std::lock_guard<std::mutex> sl (stateLock);
    return pendingState;
}

juce::String FirmwareUpdater::getCurrentStateName() const
{
    const auto* state = getCurrentState();
    return state != nullptr ? state->name : juce::String();
}

bool FirmwareUpdater::isStillIn (const State& state) const
{
    const std::lock_guard<std::mutex> sl (stateLock);
    return currentState == &state && pendingState == &state;
}

void FirmwareUpdater::movePendingState (const State& from, const State* target)
{
    if (target == nullptr)
        return;

    const std::lock_guard<std::mutex> sl (stateLock);
    if (currentState == &from)
        pendingState = target;
}

void FirmwareUpdater::movePendingState (const State& from, const juce::String& targetName)
{
    if (runningMachine != nullptr)
        movePendingState (from, runningMachine->getState (targetName));
}

juce::String FirmwareUpdater::takeRequestedState()
{
    const std::lock_guard<std::mutex> sl (requestLock);
    return std::exchange (requestedState, {});
}

juce::String FirmwareUpdater::peekRequestedState() const
{
    const std::lock_guard<std::mutex> sl (requestLock);
    return requestedState;
}

bool FirmwareUpdater::hasRequestedState() const
{
    const std::lock_guard<std::mutex> sl (requestLock);
    return requestedState.isNotEmpty();
}

void FirmwareUpdater::buttonPressed (const juce::String& buttonName)
{
    const auto* state = getPendingState();
    if (state == nullptr)
        return;

    // The last matching Button with a target wins; whether it is enabled is not consulted.
    juce::String target;
    for (const auto& instruction : state->instructions)
        vfu::visit (*instruction,
                    [&] (const State::ButtonInstruction& button)
                    {
                        if (button.name == buttonName && button.gotoState.isNotEmpty())
                            target = button.gotoState;
                    });

    if (target.isEmpty())
        return;

    {
        const std::lock_guard<std::mutex> sl (requestLock);
        requestedState = target;
    }
    wakeEvent.signal();
}

void FirmwareUpdater::restartFromInitialState()
{
    // Read on the message thread while the engine may select the machine: take it from the model.
    const auto* machine = getMachine();
    if (machine == nullptr)
        return;

    {
        const std::lock_guard<std::mutex> sl (stateLock);
        currentState = nullptr;
        pendingState = machine->getState (machine->initialStateName);
    }
    wakeEvent.signal();
}

// ----- Reports -----

void FirmwareUpdater::reportStateChanged (const juce::String& previousState, const juce::String& newState)
{
    reports.deliver (callback, [previousState, newState] (FirmwareUpdaterCallback& c)
                     { c.stateChanged (previousState, newState); });
}

void FirmwareUpdater::reportTextFieldChanged (const juce::String& name, const juce::String& text, bool visible)
{
    reports.deliver (callback,
                     [name, text, visible] (FirmwareUpdaterCallback& c) { c.textFieldChanged (name, text, visible); });
}

void FirmwareUpdater::reportButtonChanged (const juce::String& name, const juce::String& text, bool enabled)
{
    reports.deliver (callback,
                     [name, text, enabled] (FirmwareUpdaterCallback& c) { c.buttonChanged (name, text, enabled); });
}

void FirmwareUpdater::reportPrintMessage (const juce::String& text, bool flag)
{
    reports.deliver (callback, [text, flag] (FirmwareUpdaterCallback& c) { c.printMessage (text, flag); });
}

void FirmwareUpdater::reportProgressChanged (double fraction)
{
    reports.deliver (callback, [fraction] (FirmwareUpdaterCallback& c) { c.progressChanged (fraction); });
}

void FirmwareUpdater::reportWarningShown (const juce::String& text)
{
    reports.deliver (callback, [text] (FirmwareUpdaterCallback& c) { c.warningShown (text); });
}

// ----- The run -----

// For one run: a stop and a change of the MIDI ports signal wakeEvent, as requests do.
class FirmwareUpdater::WakeOnChanges final : public juce::Thread::Listener
{
public:
    explicit WakeOnChanges (FirmwareUpdater& u) : updater (u)
    {
        updater.addListener (this);
        auto& layer = updater.portsSelector.getMidiLayer();
        updater.layerReportsPortChanges = layer.addPortChangeEvent (updater.wakeEvent);
    }

    ~WakeOnChanges() override
    {
        updater.portsSelector.getMidiLayer().removePortChangeEvent (updater.wakeEvent);
        updater.removeListener (this);
    }

    void exitSignalSent() override { updater.wakeEvent.signal(); }

private:
    FirmwareUpdater& updater;
};

void FirmwareUpdater::run()
{
    runningMachine = getMachine();

    if (runningMachine == nullptr)
    {
        writeLog ("No state machine for '" + deviceName + "' with consoleMode = " + (consoleMode ? "true" : "false"));
        return;
    }

    {
        const std::lock_guard<std::mutex> sl (stateLock);
        currentState = nullptr;
        pendingState = runningMachine->getState (runningMachine->initialStateName);
    }

    entriesWithoutPause = 0;

    // Every way out of the run ends the guarded phase: a stop, the destructor's stop, an error.
    struct GuardEnd
    {
        vfu::UpdateGuard& guard;
        ~GuardEnd() { guard.end(); }
    } guardEnd{ guard };

    // Stops and port changes wake the engine's waits as requests do.
    const WakeOnChanges wakeOnChanges{ *this };

    // A click not yet taken by a polling loop is kept: it is acted on in this run's first polling
    // loop (a restart of the thread, as a switch of Advanced Mode makes, must not lose it).

    while (!threadShouldExit())
    {
        const State* current;
        const State* pending;
        {
            const std::lock_guard<std::mutex> sl (stateLock);
            current = currentState;
            pending = pendingState;
        }

        // Nothing to enter: a state without a polling mode stays until a restart or a stop.
        if (pending == nullptr || pending == current)
        {
            waitWithNothingPending();
            continue;
        }

        paceEntryWithoutPause();
        const auto entryStart = clock.now();

        if (!enterState (*pending))
            continue;

        countEntryWithoutPause (*pending, entryStart);

        // The mode is that of the pending state at this point: a GotoState may have moved it.
        const auto* modeState = getPendingState();
        auto mode = modeState != nullptr ? modeState->pollingMode : PollingMode::absent;

        if (mode == PollingMode::scanAllPorts)
        {
            portsSelector.resetInputPortToAuto();
            portsSelector.resetOutputPortToAuto();
            mode = PollingMode::midiDeviceInquiry;
            writeLog ("Scan all ports");
        }

        if (mode != PollingMode::absent)
            runPollingLoop (*pending, mode);
    }
}

bool FirmwareUpdater::enterState (const State& state)
{
    const auto* previous = getCurrentState();
    reportStateChanged (previous != nullptr ? previous->name : juce::String ("none"), state.name);

    stateEntryTime = clock.now();

    {
        const std::lock_guard<std::mutex> sl (stateLock);

        // A restart arrived meanwhile: enter the initial state instead.
        if (pendingState != &state)
            return false;

        currentState = &state;
    }

    if (auto* observer = dynamic_cast<vfu::UpdateObserver*> (&portsSelector.getMidiLayer()))
        observer->stateEntered (state.name);

    progress = 0.0;
    reportProgressChanged (0.0);

    noteStateEntered (state, previous == nullptr);

    // A new update begins here: its images are read and checked again before it erases.
    if (runningMachine != nullptr && state.name == runningMachine->initialStateName)
        checkedImages.reset();

    executeInstructions (state, state.instructions);
    endGuardAtVerdict();
    ++completedStateEntries;
    return true;
}

void FirmwareUpdater::executeInstructions (const State& state, const State::InstructionList& instructions)
{
    // Every instruction runs to its end; a GotoState only moves the pending state, so later
    // instructions still run and a later GotoState overrides an earlier one.
    for (const auto& instruction : instructions)
    {
        if (threadShouldExit())
            return;

        vfu::visit (
            *instruction,
            [this] (const State::TextFieldInstruction& textField)
            {
                reportTextFieldChanged (textField.name,
                                        textField.text.replace ("?(version)", portsSelector.getFirmwareVersion()),
                                        textField.visible);
            },
            [this] (const State::ButtonInstruction& button)
            { reportButtonChanged (button.name, button.text, button.state == "enabled"); },
            [this] (const State::PrintInstruction& print) { reportPrintMessage (print.text, print.getFlag()); },
            [this, &state] (const State::SendSysExInstruction& send) { sendSysEx (state, send); },
            [this] (const State::WaitInstruction& wait)
            {
                endGuardAtVerdict();
                clock.sleepUnlessThreadExits ((int) (wait.time * 1000.0f));
            },
            [this, &state] (const State::GotoStateInstruction& gotoState)
            { movePendingState (state, gotoState.state); },
            [this, &state] (const State::CheckInstruction& check)
            {
                if (check.name == "versionNumber")
                {
                    const bool equal = portsSelector.getFirmwareVersion() == packages->getSelectedVersionText();
                    if (equal == check.value)
                        executeInstructions (state, check.instructions);
                }
            });
    }
}

void FirmwareUpdater::runPollingLoop (const State& state, PollingMode mode)
{
    while (isStillIn (state))
    {
        if (threadShouldExit())
            return;

        // A request is acted on instead of a poll; one naming no state changes nothing.
        const auto request = takeRequestedState();
        if (request.isNotEmpty())
        {
            movePendingState (state, request);
            continue;
        }

        if (threadShouldExit())
            return;

        const auto passStart = juce::Time::getMillisecondCounter();
        bool polled = false;
        const auto result = pollOnce (mode, polled);

        if (polled)
        {
            reportPortsInUse();
            applyTransition (state, result, state.pollingStates);
        }

        // Polls that returned at once (ports only checked, no device to ask) and passes that
        // polled nothing wait for a change instead of spinning.
        if (juce::Time::getMillisecondCounter() - passStart < (juce::uint32) idlePassMilliseconds)
            waitForPortChange (state);
    }
}

PollResult FirmwareUpdater::pollOnce (PollingMode mode, bool& polled)
{
    polled = true;

    switch (mode)
    {
        case PollingMode::midiDeviceInquiry:
        case PollingMode::midiDeviceInquiry2:
        {
            const auto result = portsSelector.pollDevice (midiDeviceId, mode == PollingMode::midiDeviceInquiry2);
            noteInquiryResult (result);
            return result;
        }
        case PollingMode::midiPorts:
            return portsSelector.checkSelectedPorts();
        case PollingMode::panelState:
            return portsSelector.queryPanelState();
        case PollingMode::absent:
        case PollingMode::scanAllPorts: // run() has turned it into the device inquiry
        case PollingMode::none:
        case PollingMode::unknown:
            break;
    }

    polled = false;
    return PollResult::Aborted;
}

void FirmwareUpdater::applyTransition (const State& state, PollResult result, const PollingStateList& transitions)
{
    const auto now = clock.now();

    // Something was found: the time-out starts again.
    if (result != PollResult::Aborted && result != PollResult::NoDevice)
        stateEntryTime = now;

    if (now < stateEntryTime.load() + (juce::int64) timeout * 1000)
    {
        const auto entry = transitions.find (result);
        if (entry != transitions.end())
            movePendingState (state, entry->second);

        return;
    }

    // Timed out; the result itself is not looked at.
    movePendingState (state, state.hasAttribute ("timeoutState") ? state.getAttribute ("timeoutState") : timeoutState);
}

void FirmwareUpdater::waitForPortChange (const State& state)
{
    // A pass that has just moved the machine on does not wait.
    if (!isStillIn (state))
        return;

    const int recheck = layerReportsPortChanges ? portChangeRecheckMilliseconds : portListRecheckMilliseconds;

    // The state's time-out is acted on when it is due, not up to a recheck later.
    const auto untilTimeout = stateEntryTime.load() + (juce::int64) timeout * 1000 - clock.now();
    clock.wait (wakeEvent, (int) juce::jlimit<juce::int64> (idlePassMilliseconds, recheck, untilTimeout));
}

void FirmwareUpdater::waitWithNothingPending()
{
    if (!threadShouldExit())
        wakeEvent.wait (nothingPendingWaitMilliseconds);
}

// An entry whose instructions moved on at once (a GotoState, no poll, no wait) is followed by the
// next entry without a pause. More such entries in a row than the machine has states can only be a
// cycle (two "none" states that GotoState each other): each further entry first waits one idle pass
// on the engine's clock, as a pass that polls nothing does, instead of spinning a core. Chains
// without a cycle keep their timing.
void FirmwareUpdater::paceEntryWithoutPause()
{
    if (runningMachine != nullptr && entriesWithoutPause > (int) runningMachine->states.size())
        clock.wait (wakeEvent, idlePassMilliseconds);
}

// A state that stays (to poll, or for a button) or whose instructions took an idle pass's time paused.
void FirmwareUpdater::countEntryWithoutPause (const State& state, juce::int64 entryStart)
{
    const bool paused = isStillIn (state) || clock.now() - entryStart >= idlePassMilliseconds;
    entriesWithoutPause = paused ? 0 : entriesWithoutPause + 1;
}
