#include "SoakRun.h"

#include "core/Log.h"
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
            failures.fail (name + ": success shown while the instrument holds " + instrument.getInstalledVersion().quoted() + " (valid "
                        + juce::String ((int) instrument.holdsValidFirmware()) + ", problem " + instrument.getLastImageProblem().quoted() + ")");
        else if (instrument.getReceivedImage() != packages.firstImage)
            failures.fail (name + ": success shown but the last image differs from the package's");
    }

    void buttonChanged (juce::String buttonName, juce::String text, bool enabled) override
    {
        if (buttonName == "InstallCancel")
            installOffered = enabled && text == "Install";
    }

    void printMessage (juce::String, bool) override {}
    void progressChanged (double) override {}

    juce::String trail() const
    {
        const std::lock_guard<std::mutex> sl (lock);
        return states.joinIntoString (" > ");
    }

    std::atomic<bool> successSeen { false };
    std::atomic<bool> installOffered { false };

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
    int budgetMs = 0;                 // clock time the phase may take
    juce::int64 cancelAt = -1;        // clock times (from the start) of the events, -1 for none
    juce::int64 portsAt = -1;
    juce::int64 stopRestartAt = -1;
    juce::int64 shutdownAt = -1;
    bool clickInstall = false;

    bool hasFaults() const
    {
        const auto& f = settings.faults;
        return f.dropReplies || f.garbleReplies || f.shortReplies || f.neverComeBack || f.unrelatedSysExFirst
               || f.vanishAfterTransferBytes >= 0 || f.extraReplyDelayMs != 0 || corrupt || cancelAt >= 0 || portsAt >= 0
               || stopRestartAt >= 0 || shutdownAt >= 0;
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
        failures.fail (name + ": " + what + " took " + juce::String (took, 0) + " ms (stopped " + juce::String ((int) stopped) + ")");
        return false;
    }
    return true;
}

Outcome runPhase (const ModelPackages& packages, const Phase& phase, juce::Random& random, Clock& runClock,
                  FailureList& failures, const juce::String& name)
{
    Outcome outcome;
    Recorder recorder (packages, phase.corrupt, failures, name);

    SimulatedUpdate::Options options;
    options.deviceName = simulation::getModelInfo (packages.model).name;
    options.packageFiles.add (phase.corrupt ? packages.corrupt : packages.good);
    options.speed = runClock.getSpeed();
    options.clock = &runClock;
    options.silentPorts = random.nextInt (3);
    options.userReactionMilliseconds = 500 + random.nextInt (3000);

    std::unique_ptr<SimulatedUpdate> update;
    try
    {
        update = std::make_unique<SimulatedUpdate> (phase.settings, options, &recorder);
    }
    catch (const FirmwareUpdater::FirmwareUpdaterException& e)
    {
        failures.fail (name + ": " + e.message);
        return outcome;
    }

    if (update->getProblem().isNotEmpty())
    {
        failures.fail (name + ": " + update->getProblem());
        return outcome;
    }

    recorder.watch (update.get());
    auto& updater = update->getUpdater();
    auto& clock = update->getClock();
    const auto start = clock.now();
    updater.startThread();

    bool cancelled = false, portsChosen = false, restarted = false;
    juce::int64 installSeenAt = -1;

    while (!recorder.successSeen && clock.now() - start < phase.budgetMs)
    {
        juce::Thread::sleep (5);
        const auto elapsed = clock.now() - start;

        if (phase.cancelAt >= 0 && !cancelled && elapsed >= phase.cancelAt)
        {
            cancelled = true;
            onMessageThread ([&] { updater.buttonPressed ("InstallCancel"); });
        }

        if (phase.portsAt >= 0 && !portsChosen && elapsed >= phase.portsAt)
        {
            portsChosen = true;
            onMessageThread (
                [&]
                {
                    auto& selector = update->getSelector();
                    auto inputs = selector.getInputNames();
                    auto outputs = selector.getOutputNames();
                    inputs.add ("Auto");
                    outputs.add ("Auto");
                    selector.selectInputPort (inputs[random.nextInt (inputs.size())]);
                    selector.selectOutputPort (outputs[random.nextInt (outputs.size())]);
                    updater.restartFromInitialState();
                });
        }

        if (phase.stopRestartAt >= 0 && !restarted && elapsed >= phase.stopRestartAt)
        {
            restarted = true;
            if (timedStop (updater, failures, name, "stopping the engine"))
            {
                onMessageThread ([&] { updater.restartFromInitialState(); });
                updater.startThread();
            }
        }

        if (phase.shutdownAt >= 0 && elapsed >= phase.shutdownAt)
        {
            outcome.shutDown = true;
            break;
        }

        // The user clicks Install when the panel offers it (an instrument found in its bootloader).
        if (phase.clickInstall && recorder.installOffered)
        {
            if (installSeenAt < 0)
                installSeenAt = elapsed;
            else if (elapsed - installSeenAt > 1500)
            {
                installSeenAt = -1;
                recorder.installOffered = false;
                onMessageThread ([&] { updater.buttonPressed ("InstallCancel"); });
            }
        }
        else
        {
            installSeenAt = -1;
        }
    }

    outcome.success = recorder.successSeen;
    outcome.installedVersion = update->getInstrument().getInstalledVersion();
    outcome.mode = update->getInstrument().getMode();

    if (outcome.shutDown)
    {
        // The program quits with the engine running: the updater is destroyed mid-update.
        const auto t0 = juce::Time::getMillisecondCounterHiRes();
        update.reset();
        const auto took = juce::Time::getMillisecondCounterHiRes() - t0;
        if (took > stopTimeoutMs + stopSlackMs)
            failures.fail (name + ": the shutdown took " + juce::String (took, 0) + " ms");
        cycleLog (failures);
        return outcome;
    }

    timedStop (updater, failures, name, "the final stop");
    if (!outcome.success && !phase.hasFaults())
        failures.fail (name + ": no update without faults: " + recorder.trail());
    return outcome;
}
} // namespace

void cycleLog (FailureList& failures)
{
    static std::mutex cycleLock;
    const std::lock_guard<std::mutex> sl (cycleLock);

    writeLog ("shutdown");
    closeLog();

    juce::StringArray lines;
    lines.addLines (getLogFile().loadFileAsString());
    lines.removeEmptyStrings();

    // Lines after the last banner are ours: each carries its time.
    int first = 0;
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith ("Log started"))
            first = i + 1;

    bool sawShutdown = false;
    for (int i = first; i < lines.size(); ++i)
    {
        const auto& line = lines[i];
        const bool stamped = line.length() > 22 && line.substring (0, 19).containsOnly ("0123456789-T:") && line.substring (19, 22) == " - ";
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
    const auto result = [&] { return RunResult{ failures.get(), clock.getLongestLagMilliseconds() }; };

    const auto name = "run " + juce::String (runNumber) + " (" + simulation::getModelInfo (packages.model).name + ")";
    const bool orb = packages.model == simulation::Model::orb26;

    Phase phase;
    phase.settings.model = packages.model;
    if (orb)
        phase.settings.restartMs = 8000; // an Orb 26 poll takes up to 3.5 s: a shorter restart goes unseen
    phase.budgetMs = 30000 + random.nextInt (orb ? 150000 : 90000);

    auto chance = [&] (int percent) { return random.nextInt (100) < percent; };
    auto& faults = phase.settings.faults;
    auto draw = [&] (const char* kind, int percent)
    {
        if (!chance (percent))
            return false;
        tally.fault (kind);
        return true;
    };

    // About a third of the runs are clean, so that each fault also meets working updates.
    const bool clean = !chance (67);
    if (clean)
    {
        phase.budgetMs = 600000; // a clean run must finish by itself
    }
    else
    {
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

        // A run that drew no fault is a clean run: it gets the whole budget and must finish.
        if (!phase.hasFaults())
            phase.budgetMs = 600000;
    }

    const auto first = runPhase (packages, phase, random, clock, failures, name);
    {
        const std::lock_guard<std::mutex> sl (tally.lock);
        ++tally.updates;
        if (first.success)
            ++tally.successes;
    }
    if (first.success)
        return result();

    // A fresh run without faults on the same instrument (as the failure left it) finishes the update.
    Phase retry;
    retry.settings.model = packages.model;
    if (orb)
        retry.settings.restartMs = 8000;
    retry.settings.firmwareVersion = first.installedVersion;
    retry.settings.startInBootloader = first.installedVersion.isEmpty() || first.mode != simulation::Mode::firmware;
    retry.budgetMs = 600000;
    retry.clickInstall = true;

    {
        const std::lock_guard<std::mutex> sl (tally.lock);
        ++tally.retries;
    }
    const auto second = runPhase (packages, retry, random, clock, failures, name + " retry");
    if (second.success)
    {
        const std::lock_guard<std::mutex> sl (tally.lock);
        ++tally.retriesFinished;
    }
    else
    {
        failures.fail (name + ": the retry without faults did not finish the update (instrument at "
                       + first.installedVersion.quoted() + ", bootloader " + juce::String ((int) retry.settings.startInBootloader) + ")");
    }

    return result();
}
} // namespace vfu::soak
