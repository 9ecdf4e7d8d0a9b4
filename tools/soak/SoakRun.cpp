#include "SoakRun.h"

#include "core/Log.h"
#include "definitions/PanelFieldNames.h"
#include "simulation/SimulatedUpdate.h"
#include "midi/MIDIPortsSelector.h"
#include "simulation/WakeLagClock.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <functional>

namespace vfu::soak
{
void Tally::fault (const juce::String& kind)
{
    const std::lock_guard<std::mutex> sl (lock);
    ++faults[kind];
}

void FailureList::fail (const juce::String& text)
{
    const std::lock_guard<std::mutex> sl (lock);
    items.add (text);
}

juce::StringArray FailureList::get() const
{
    const std::lock_guard<std::mutex> sl (lock);
    return items;
}

namespace
{
// The panel's operations belong to the message thread, as they do in the app.
void onMessageThread (std::function<void()> task)
{
    juce::MessageManager::getInstance()->callFunctionOnMessageThread (
        [] (void* p) -> void*
        {
            (*static_cast<std::function<void()>*> (p))();
            return nullptr;
        },
        &task);
}

// Watches the reports of one update: the success text (checked against the instrument the moment it
// shows), the Install button and the states passed.
class Recorder final : public FirmwareUpdaterCallback
{
public:
    Recorder (const ModelPackages& p, bool corruptPackage, FailureList& f, juce::String runName)
        : packages (p), corrupt (corruptPackage), failures (f), name (std::move (runName))
    {
    }

    void watch (SimulatedUpdate* updateToCheck) { update = updateToCheck; }

    void stateChanged (juce::String, juce::String newState) override
    {
        const std::lock_guard<std::mutex> sl (lock);
        if (states.size() < 200)
            states.add (newState);
    }

    void textFieldChanged (juce::String, juce::String text, bool visible) override
    {
        if (!visible || text != packages.successText || update == nullptr)
            return;

        successSeen = true;
        auto& instrument = update->getInstrument();
        if (corrupt)
            failures.fail (name + ": success shown for a corrupt image");
        else if (!instrument.holdsValidFirmware() || instrument.getInstalledVersion() != packages.version)
            failures.fail (name + ": success shown while the instrument holds " +
                           instrument.getInstalledVersion().quoted() + " (valid " +
                           juce::String ((int) instrument.holdsValidFirmware()) + ", problem " +
                           instrument.getLastImageProblem().quoted() + ")");
        else if (instrument.getReceivedImage() != packages.firstImage)
            failures.fail (name + ": success shown but the last image differs from the package's");
    }

    void buttonChanged (juce::String buttonName, juce::String text, bool enabled) override
    {
        if (buttonName == definitions::installCancelName)
            installOffered = enabled && text == "Install";
    }

    void printMessage (juce::String, bool) override {}
    void progressChanged (double) override {}

    juce::String trail() const
    {
        const std::lock_guard<std::mutex> sl (lock);
        return states.joinIntoString (" > ");
    }

    std::atomic<bool> successSeen{ false };
    std::atomic<bool> installOffered{ false };

private:
    const ModelPackages& packages;
    const bool corrupt;
    FailureList& failures;
    const juce::String name;
    SimulatedUpdate* update = nullptr;
    mutable std::mutex lock;
    juce::StringArray states;
};

struct Phase
{
    simulation::InstrumentSettings settings;
    bool corrupt = false;
    int budgetMs = 0;          // clock time the phase may take
    juce::int64 cancelAt = -1; // clock times (from the start) of the events, -1 for none
    juce::int64 portsAt = -1;
    juce::int64 stopRestartAt = -1;
    juce::int64 shutdownAt = -1;
    bool clickInstall = false;

    bool hasFaults() const
    {
        const auto& f = settings.faults;
        return f.dropReplies || f.garbleReplies || f.shortReplies || f.neverComeBack || f.unrelatedSysExFirst ||
               f.vanishAfterTransferBytes >= 0 || f.extraReplyDelayMs != 0 || corrupt || cancelAt >= 0 ||
               portsAt >= 0 || stopRestartAt >= 0 || shutdownAt >= 0;
    }
};

struct Outcome
{
    bool success = false;
    juce::String installedVersion;
    simulation::Mode mode = simulation::Mode::firmware;
    bool shutDown = false;
};

// A stop must end within the updater's own time-out; a little slack for a loaded machine.
constexpr int stopTimeoutMs = 5000;
constexpr double stopSlackMs = 1500.0;

bool timedStop (FirmwareUpdater& updater, FailureList& failures, const juce::String& name, const char* what)
{
    const auto start = juce::Time::getMillisecondCounterHiRes();
    const bool stopped = updater.stopThread (stopTimeoutMs);
    const auto took = juce::Time::getMillisecondCounterHiRes() - start;
    if (!stopped || took > stopTimeoutMs + stopSlackMs)
    {
        failures.fail (name + ": " + what + " took " + juce::String (took, 0) + " ms (stopped " +
                       juce::String ((int) stopped) + ")");
        return false;
    }
    return true;
}

SimulatedUpdate::Options updateOptions (const ModelPackages& packages, const Phase& phase, juce::Random& random,
                                        Clock& runClock)
{
    SimulatedUpdate::Options options;
    options.deviceName = simulation::getModelInfo (packages.model).name;
    options.packageFiles.add (phase.corrupt ? packages.corrupt : packages.good);
    options.speed = runClock.getSpeed();
    options.clock = &runClock;
    options.silentPorts = random.nextInt (3);
    options.userReactionMilliseconds = 500 + random.nextInt (3000);
    return options;
}

// The phase's update, or null (with the failure recorded) when it cannot be set up.
std::unique_ptr<SimulatedUpdate> createUpdate (const Phase& phase, const SimulatedUpdate::Options& options,
                                               Recorder& recorder, FailureList& failures, const juce::String& name)
{
    std::unique_ptr<SimulatedUpdate> update;
    try
    {
        update = std::make_unique<SimulatedUpdate> (phase.settings, options, &recorder);
    }
    catch (const FirmwareUpdater::FirmwareUpdaterException& e)
    {
        failures.fail (name + ": " + e.message);
        return nullptr;
    }

    if (update->getProblem().isNotEmpty())
    {
        failures.fail (name + ": " + update->getProblem());
        return nullptr;
    }
    return update;
}

// What the user and the program do during a phase, each once its clock time has come.
class PhaseEvents
{
public:
    PhaseEvents (const Phase& phaseToPlay, SimulatedUpdate& updateToDrive, Recorder& recorderToAsk,
                 juce::Random& randomToUse, FailureList& f, const juce::String& runName)
        : phase (phaseToPlay), update (updateToDrive), updater (updateToDrive.getUpdater()), recorder (recorderToAsk),
          random (randomToUse), failures (f), name (runName)
    {
    }

    // Does what is due `elapsed` clock ms after the start; false once the program is to shut down.
    bool takeDue (juce::int64 elapsed)
    {
        cancelIfDue (elapsed);
        choosePortsIfDue (elapsed);
        stopAndRestartIfDue (elapsed);
        if (phase.shutdownAt >= 0 && elapsed >= phase.shutdownAt)
            return false;
        clickInstallWhenOffered (elapsed);
        return true;
    }

private:
    void cancelIfDue (juce::int64 elapsed)
    {
        if (phase.cancelAt < 0 || cancelled || elapsed < phase.cancelAt)
            return;
        cancelled = true;
        onMessageThread ([&] { updater.buttonPressed (definitions::installCancelName); });
    }

    void choosePortsIfDue (juce::int64 elapsed)
    {
        if (phase.portsAt < 0 || portsChosen || elapsed < phase.portsAt)
            return;
        portsChosen = true;
        onMessageThread (
            [&]
            {
                auto& selector = update.getSelector();
                auto inputs = selector.getInputNames();
                auto outputs = selector.getOutputNames();
                inputs.add ("Auto");
                outputs.add ("Auto");
                selector.selectInputPort (inputs[random.nextInt (inputs.size())]);
                selector.selectOutputPort (outputs[random.nextInt (outputs.size())]);
                updater.restartFromInitialState();
            });
    }

    void stopAndRestartIfDue (juce::int64 elapsed)
    {
        if (phase.stopRestartAt < 0 || restarted || elapsed < phase.stopRestartAt)
            return;
        restarted = true;
        if (timedStop (updater, failures, name, "stopping the engine"))
        {
            onMessageThread ([&] { updater.restartFromInitialState(); });
            updater.startThread();
        }
    }

    // The user clicks Install when the panel offers it (an instrument found in its bootloader).
    void clickInstallWhenOffered (juce::int64 elapsed)
    {
        if (!phase.clickInstall || !recorder.installOffered)
        {
            installSeenAt = -1;
            return;
        }
        if (installSeenAt < 0)
            installSeenAt = elapsed;
        else if (elapsed - installSeenAt > 1500)
        {
            installSeenAt = -1;
            recorder.installOffered = false;
            onMessageThread ([&] { updater.buttonPressed (definitions::installCancelName); });
        }
    }

    const Phase& phase;
    SimulatedUpdate& update;
    FirmwareUpdater& updater;
    Recorder& recorder;
    juce::Random& random;
    FailureList& failures;
    const juce::String& name;
    bool cancelled = false, portsChosen = false, restarted = false;
    juce::int64 installSeenAt = -1;
};

// The program quits with the engine running: the updater is destroyed mid-update.
void shutDownMidUpdate (std::unique_ptr<SimulatedUpdate>& update, FailureList& failures, const juce::String& name)
{
    const auto t0 = juce::Time::getMillisecondCounterHiRes();
    update.reset();
    const auto took = juce::Time::getMillisecondCounterHiRes() - t0;
    if (took > stopTimeoutMs + stopSlackMs)
        failures.fail (name + ": the shutdown took " + juce::String (took, 0) + " ms");
    cycleLog (failures);
}

Outcome runPhase (const ModelPackages& packages, const Phase& phase, juce::Random& random, Clock& runClock,
                  FailureList& failures, const juce::String& name)
{
    Outcome outcome;
    Recorder recorder (packages, phase.corrupt, failures, name);
    auto update = createUpdate (phase, updateOptions (packages, phase, random, runClock), recorder, failures, name);
    if (update == nullptr)
        return outcome;

    recorder.watch (update.get());
    auto& updater = update->getUpdater();
    auto& clock = update->getClock();
    const auto start = clock.now();
    updater.startThread();

    PhaseEvents events (phase, *update, recorder, random, failures, name);
    while (!recorder.successSeen && clock.now() - start < phase.budgetMs)
    {
        juce::Thread::sleep (5);
        if (!events.takeDue (clock.now() - start))
        {
            outcome.shutDown = true;
            break;
        }
    }

    outcome.success = recorder.successSeen;
    outcome.installedVersion = update->getInstrument().getInstalledVersion();
    outcome.mode = update->getInstrument().getMode();

    if (outcome.shutDown)
    {
        shutDownMidUpdate (update, failures, name);
        return outcome;
    }

    timedStop (updater, failures, name, "the final stop");
    if (!outcome.success && !phase.hasFaults())
        failures.fail (name + ": no update without faults: " + recorder.trail());
    return outcome;
}

constexpr int cleanBudgetMs = 600000; // a clean run must finish by itself

// A phase on an instrument of the packages' model, without faults yet.
Phase phaseFor (const ModelPackages& packages)
{
    Phase phase;
    phase.settings.model = packages.model;
    if (packages.model == simulation::Model::orb26)
        phase.settings.restartMs = 8000; // an Orb 26 poll takes up to 3.5 s: a shorter restart goes unseen
    return phase;
}

// Each fault on its own chance, counted in the tally when drawn.
void drawFaults (Phase& phase, const ModelPackages& packages, juce::Random& random, Tally& tally)
{
    auto& faults = phase.settings.faults;
    auto draw = [&] (const char* kind, int percent)
    {
        if (random.nextInt (100) >= percent)
            return false;
        tally.fault (kind);
        return true;
    };

    if (draw ("vanish mid-transfer", 15))
        faults.vanishAfterTransferBytes = random.nextInt ((int) packages.firstImage.getSize());
    faults.dropReplies = draw ("replies dropped", 8);
    if (draw ("replies late", 12))
        faults.extraReplyDelayMs = 100 + random.nextInt (1500);
    faults.garbleReplies = draw ("replies garbled", 8);
    faults.shortReplies = draw ("replies short", 8);
    faults.unrelatedSysExFirst = draw ("unrelated SysEx", 15);
    faults.neverComeBack = draw ("never comes back", 4);
    phase.corrupt = draw ("corrupt image", 8);
    if (draw ("Cancel clicked", 12))
        phase.cancelAt = random.nextInt (phase.budgetMs);
    if (draw ("ports chosen", 10))
        phase.portsAt = random.nextInt (phase.budgetMs / 2);
    if (draw ("engine stopped and restarted", 10))
        phase.stopRestartAt = random.nextInt (phase.budgetMs / 2);
    if (draw ("shutdown mid-update", 8))
        phase.shutdownAt = random.nextInt (phase.budgetMs);
}

// The first phase of a run. About a third of the runs are clean, so that each fault also meets
// working updates; a run that drew no fault is a clean run too: it gets the whole budget.
Phase drawFirstPhase (const ModelPackages& packages, juce::Random& random, Tally& tally)
{
    auto phase = phaseFor (packages);
    phase.budgetMs = 30000 + random.nextInt (packages.model == simulation::Model::orb26 ? 150000 : 90000);

    const bool clean = random.nextInt (100) >= 67;
    if (!clean)
        drawFaults (phase, packages, random, tally);
    if (clean || !phase.hasFaults())
        phase.budgetMs = cleanBudgetMs;
    return phase;
}

// A fresh run without faults on the same instrument (as the failure left it) finishes the update.
Phase retryPhase (const ModelPackages& packages, const Outcome& first)
{
    auto retry = phaseFor (packages);
    retry.settings.firmwareVersion = first.installedVersion;
    retry.settings.startInBootloader = first.installedVersion.isEmpty() || first.mode != simulation::Mode::firmware;
    retry.budgetMs = cleanBudgetMs;
    retry.clickInstall = true;
    return retry;
}

void count (Tally& tally, int Tally::*counter)
{
    const std::lock_guard<std::mutex> sl (tally.lock);
    ++(tally.*counter);
}
} // namespace

juce::StringArray readLogLines()
{
    juce::StringArray lines;
    lines.addLines (getLogFile().loadFileAsString());
    lines.removeEmptyStrings();
    return lines;
}

void cycleLog (FailureList& failures)
{
    static std::mutex cycleLock;
    const std::lock_guard<std::mutex> sl (cycleLock);

    writeLog ("shutdown");
    closeLog();

    const auto lines = readLogLines();

    // Lines after the last banner are ours: each carries its time.
    int first = 0;
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith ("Log started"))
            first = i + 1;

    bool sawShutdown = false;
    for (int i = first; i < lines.size(); ++i)
    {
        const auto& line = lines[i];
        const bool stamped = line.length() > 22 && line.substring (0, 19).containsOnly ("0123456789-T:") &&
                             line.substring (19, 22) == " - ";
        if (!stamped)
        {
            failures.fail ("log line without a time: " + line.quoted());
            break;
        }
        sawShutdown = sawShutdown || line.endsWith (" - shutdown");
    }

    if (!sawShutdown)
        failures.fail ("the log does not hold the shutdown line");

    openLog();
}

RunResult runOneUpdate (const ModelPackages& packages, juce::Random& random, double speed, Tally& tally, int runNumber,
                        double starveRealMilliseconds)
{
    // Every clock of the run (engine, sender, ports, instrument, user) is this one, so its lag is
    // the run's.
    ScaledClock scaledClock (speed);
    WakeLagClock clock (scaledClock, starveRealMilliseconds);
    FailureList failures;
    const auto name = "run " + juce::String (runNumber) + " (" + simulation::getModelInfo (packages.model).name + ")";

    const auto first = runPhase (packages, drawFirstPhase (packages, random, tally), random, clock, failures, name);
    count (tally, &Tally::updates);
    if (first.success)
    {
        count (tally, &Tally::successes);
        return RunResult{ failures.get(), clock.getLongestLagMilliseconds() };
    }

    const auto retry = retryPhase (packages, first);
    count (tally, &Tally::retries);
    if (runPhase (packages, retry, random, clock, failures, name + " retry").success)
        count (tally, &Tally::retriesFinished);
    else
        failures.fail (name + ": the retry without faults did not finish the update (instrument at " +
                       first.installedVersion.quoted() + ", bootloader " +
                       juce::String ((int) retry.settings.startInBootloader) + ")");

    return RunResult{ failures.get(), clock.getLongestLagMilliseconds() };
}
} // namespace vfu::soak
