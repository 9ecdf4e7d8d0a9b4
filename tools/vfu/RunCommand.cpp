// vfu run: a whole update by the real engine against one simulated instrument and a simulated user,
// printing every report of the engine as one JSON object a line.
#include "CommandRegistry.h"
#include "DefinitionArguments.h"
#include "PackageRejections.h"
#include "ProgramVersion.h"
#include "RunVerdict.h"

#include "core/Log.h"
#include "core/TerminationSignals.h"
#include "engine/GuardedSignals.h"
#include "simulation/ReplayedUpdate.h"
#include "simulation/SimulatedUpdate.h"
#include "midi/MIDIPortsSelector.h"

#include <juce_events/juce_events.h>

#include <iostream>
#include <mutex>
#include <optional>

namespace vfu
{
namespace
{
struct Click
{
    juce::String state;
    int delayMilliseconds = 0;
    std::atomic<juce::int64> due { -1 }; // clock time to press, -1 while the state was not entered
    std::atomic<bool> pressed { false };
};

// Prints reports and (with --log) log lines, and notices when the engine has run the instructions of
// the --until state: from then on nothing more is printed.
class ReportPrinter final : public FirmwareUpdaterCallback, public LogObserver
{
public:
    ReportPrinter (juce::String untilStateToUse, bool printLogLines, std::vector<std::unique_ptr<Click>>& clicksToArm)
        : untilState (std::move (untilStateToUse)), logLines (printLogLines), clicks (clicksToArm)
    {
        if (logLines)
            addLogObserver (this);
    }

    ~ReportPrinter() override
    {
        if (logLines)
            removeLogObserver (this);
    }

    void attach (FirmwareUpdater& updaterToWatch, Clock& clockToUse)
    {
        updater = &updaterToWatch;
        clock = &clockToUse;
    }

    // Told every report before anything is printed; set before the engine starts.
    void setVerdict (tool::RunVerdict& verdictToTell) { verdict = &verdictToTell; }

    // True once the --until state was entered and its whole instruction list has run.
    bool isDone()
    {
        const auto mark = untilMark.load();
        if (mark >= 0 && updater != nullptr && updater->getCompletedStateEntries() > mark)
            done = true;
        return done.load();
    }

    void close() { done = true; }

    void stateChanged (juce::String previousState, juce::String newState) override
    {
        if (verdict != nullptr)
            verdict->stateEntered (newState);

        if (isDone())
            return;

        secondsLeft = 0.0;
        auto* object = new juce::DynamicObject();
        object->setProperty ("report", "stateChanged");
        object->setProperty ("previous", previousState);
        object->setProperty ("state", newState);
        print (object);

        // Reported before the state's instructions run: the count of completed entries does not
        // include this one yet.
        if (newState == untilState && untilMark.load() < 0)
            untilMark = updater->getCompletedStateEntries();

        for (auto& click : clicks)
            if (click->state == newState && click->due.load() < 0)
                click->due = clock->now() + click->delayMilliseconds;
    }

    void textFieldChanged (juce::String name, juce::String text, bool visible) override
    {
        if (verdict != nullptr && name == "InstructionsField")
            verdict->instructionsShown (visible ? text : juce::String());

        if (isDone())
            return;

        auto* object = new juce::DynamicObject();
        object->setProperty ("report", "textFieldChanged");
        object->setProperty ("name", name);
        object->setProperty ("text", text);
        object->setProperty ("visible", visible);
        print (object);
    }

    void buttonChanged (juce::String name, juce::String text, bool enabled) override
    {
        if (verdict != nullptr)
            verdict->buttonChanged (enabled);

        if (isDone())
            return;

        auto* object = new juce::DynamicObject();
        object->setProperty ("report", "buttonChanged");
        object->setProperty ("name", name);
        object->setProperty ("text", text);
        object->setProperty ("enabled", enabled);
        print (object);
    }

    void printMessage (juce::String text, bool flag) override
    {
        if (isDone())
            return;

        auto* object = new juce::DynamicObject();
        object->setProperty ("report", "printMessage");
        object->setProperty ("text", text);
        object->setProperty ("flag", flag);
        print (object);
    }

    void progressChanged (double fraction) override
    {
        if (verdict != nullptr)
            verdict->progressChanged (fraction);

        if (isDone())
            return;

        auto* object = new juce::DynamicObject();
        object->setProperty ("report", "progressChanged");
        object->setProperty ("fraction", fraction);
        object->setProperty ("secondsLeft", secondsLeft.load());
        print (object);
    }

    // Reported just before each progress step of a transfer, which carries it.
    void timeLeftChanged (double seconds) override { secondsLeft = seconds; }

    void noticeChanged (Notice which, juce::String text) override
    {
        if (isDone())
            return;

        auto* object = new juce::DynamicObject();
        object->setProperty ("report", "noticeChanged");
        object->setProperty ("notice", which == Notice::waitingForFirmware ? "waitingForFirmware"
                                       : which == Notice::portInUse        ? "portInUse"
                                                                           : "keepConnected");
        object->setProperty ("text", text);
        print (object);
    }

    void guardChanged (bool guarded) override
    {
        if (isDone())
            return;

        auto* object = new juce::DynamicObject();
        object->setProperty ("report", "guardChanged");
        object->setProperty ("guarded", guarded);
        print (object);
    }

    void warningShown (juce::String text) override
    {
        if (isDone())
            return;

        auto* object = new juce::DynamicObject();
        object->setProperty ("report", "warningShown");
        object->setProperty ("text", text);
        print (object);
    }

    void logLineWritten (const juce::String& text) override
    {
        if (done.load())
            return;

        auto* object = new juce::DynamicObject();
        object->setProperty ("log", text);
        print (object);
    }

private:
    void print (juce::DynamicObject* object)
    {
        const juce::var value (object);
        const std::lock_guard<std::mutex> sl (printLock);
        std::cout << juce::JSON::toString (value, true).toStdString() << std::endl;
    }

    const juce::String untilState;
    const bool logLines;
    std::vector<std::unique_ptr<Click>>& clicks;
    FirmwareUpdater* updater = nullptr;
    Clock* clock = nullptr;
    tool::RunVerdict* verdict = nullptr;
    std::atomic<int> untilMark { -1 };
    std::atomic<double> secondsLeft { 0.0 };
    std::atomic<bool> done { false };
    std::mutex printLock;
};

// Ctrl-C, SIGTERM and SIGHUP as vfu update answers them (GuardedSignals): why the run must stop,
// or nothing while it goes on. What the person must know goes to standard error.
struct SignalAnswer
{
    juce::String stopReason; // empty: go on
    bool afterVerdict = false; // a held-back request: the verdict state may still finish
};

SignalAnswer answerSignals (GuardedSignals& signals, const FirmwareUpdater& updater)
{
    switch (signals.look (updater.isGuarded(), juce::Time::getMillisecondCounterHiRes()))
    {
        case GuardedSignals::Action::goOn:
            break;
        case GuardedSignals::Action::warnFirstInterrupt:
            std::cerr << GuardedSignals::firstInterruptText << std::endl;
            break;
        case GuardedSignals::Action::deferTermination:
            std::cerr << GuardedSignals::terminationDeferredText << std::endl;
            break;
        case GuardedSignals::Action::stop:
            return { "interrupted", false };
        case GuardedSignals::Action::stopAfterVerdict:
            return { "interrupted", true };
        case GuardedSignals::Action::stopDuringUpdate:
            return { juce::String ("interrupted: ") + GuardedSignals::stoppedDuringUpdateText, false };
    }
    return {};
}

GuardedSignals::Counts readSignalCounts()
{
    return { getTerminationSignalCount (TerminationSignal::interrupt),
             getTerminationSignalCount (TerminationSignal::terminate) +
                 getTerminationSignalCount (TerminationSignal::hangUp) };
}

std::unique_ptr<Click> parseClick (const juce::String& text)
{
    auto click = std::make_unique<Click>();
    click->state = text;

    const auto plus = text.lastIndexOfChar ('+');
    if (plus >= 0)
    {
        const auto seconds = text.substring (plus + 1).trim();
        if (seconds.isEmpty() || ! seconds.containsOnly ("0123456789."))
            tool::failUsage ("--click takes STATE or STATE+SECONDS, not " + text.quoted());

        click->state = text.substring (0, plus);
        click->delayMilliseconds = (int) (seconds.getDoubleValue() * 1000.0);
    }

    if (click->state.isEmpty())
        tool::failUsage ("--click needs a state name");

    return click;
}

// A number option's text, checked by hand so that the message names the option and its range.
double parseNumber (const std::string& option, const std::string& text, double minimum, double maximum)
{
    const auto value = tool::toJuce (text).getDoubleValue();
    if (text.empty() || ! tool::toJuce (text).containsOnly ("0123456789.") || value < minimum || value > maximum)
        tool::failUsage (juce::String (option) + " takes a number from " + juce::String (minimum) + " to " + juce::String (maximum)
                         + ", not " + tool::toJuce (text).quoted());
    return value;
}

// --until and --click name states of the machine that runs; one it does not have would be
// ignored or waited for until --limit.
void checkStateNames (const FirmwareUpdater& updater, const juce::String& untilState,
                      const std::vector<std::unique_ptr<Click>>& clicks)
{
    const auto machineName = updater.getDeviceName().quoted();
    if (tool::RunVerdict::findUnknownStates (updater, { untilState }).size() > 0)
        tool::failUsage ("--until names no state of the " + machineName + " machine: " + untilState.quoted());

    for (auto& click : clicks)
        if (tool::RunVerdict::findUnknownStates (updater, { click->state }).size() > 0)
            tool::failUsage ("--click names no state of the " + machineName + " machine: " + click->state.quoted());
}

juce::StringArray clickedStates (const std::vector<std::unique_ptr<Click>>& clicks)
{
    juce::StringArray states;
    for (auto& click : clicks)
        states.add (click->state);
    return states;
}

struct RunOptions
{
    std::string simulate, definitions, device = "Quillbox", firmware, until = "Download complete";
    std::string speed = "1", limit = "600", record, replay;
    std::vector<std::string> packages, clicks, faults, connected;
    bool log = false;
};

int run (const RunOptions& given)
{
    if (given.simulate.empty() == given.replay.empty())
        tool::failUsage ("vfu run needs either --simulate SPEC or --replay FILE");
    if (!given.replay.empty() && (!given.faults.empty() || !given.record.empty()))
        tool::failUsage ("--replay takes no --fault or --record: the recording is the instrument");
    if (!given.replay.empty() && !given.connected.empty())
        tool::failUsage ("--replay takes no --connected: the recording is the instrument");

    juce::String error;
    simulation::InstrumentSettings settings;
    recording::Recording replayed;
    if (!given.replay.empty())
    {
        const auto file = tool::resolvePath (tool::toJuce (given.replay));
        if (!recording::readFile (file, replayed, error))
            tool::failUsage ("replay: cannot read " + file.getFileName() + ": " + error);
    }
    else
    {
        const auto spec = simulation::SimulationSpec::parse (tool::toJuce (given.simulate), error);
        if (!spec)
            tool::failUsage (error);
        settings = spec->toSettings();
    }

    for (auto& fault : given.faults)
        if (! SimulatedUpdate::applyFault (settings.faults, tool::toJuce (fault), error))
            tool::failUsage (error);

    SimulatedUpdate::Options options;
    if (!given.record.empty())
        options.recordingFile = tool::resolvePath (tool::toJuce (given.record));
    options.programName = tool::programVersion;
    options.deviceName = tool::toJuce (given.device);
    options.firmwareVersion = tool::toJuce (given.firmware);
    options.speed = parseNumber ("--speed", given.speed, 0.01, 10000.0);

    if (! given.definitions.empty())
        options.definitionFile = tool::resolveDefinitionFile (given.definitions);
    if (given.replay.empty())
        tool::requireDeviceModel (options.definitionFile, options.deviceName);

    for (auto& path : given.packages)
    {
        const auto file = tool::resolvePath (tool::toJuce (path));
        if (! file.exists())
            tool::failUsage ("No package at " + file.getFullPathName());
        options.packageFiles.add (file);
    }

    const auto untilState = tool::toJuce (given.until);
    const auto limitMilliseconds = (juce::int64) (parseNumber ("--limit", given.limit, 0.0, 1.0e7) * 1000.0);

    std::vector<std::unique_ptr<Click>> clicks;
    for (auto& text : given.clicks)
        clicks.push_back (parseClick (tool::toJuce (text)));

    ReportPrinter printer (untilState, given.log, clicks);
    std::unique_ptr<SimulatedUpdate> update;
    std::unique_ptr<ReplayedUpdate> replay;

    try
    {
        if (given.replay.empty())
        {
            update = std::make_unique<SimulatedUpdate> (settings, options, &printer);
        }
        else
        {
            ReplayedUpdate::Options replayOptions;
            replayOptions.definitionFile = options.definitionFile;
            replayOptions.packageFiles = options.packageFiles;
            replayOptions.firmwareVersion = options.firmwareVersion;
            replayOptions.speed = options.speed;
            replay = std::make_unique<ReplayedUpdate> (std::move (replayed), replayOptions, &printer);
        }
    }
    catch (const FirmwareUpdater::FirmwareUpdaterException& e)
    {
        tool::fail (e.message);
    }

    const auto problem = update != nullptr ? update->getProblem() : replay->getProblem();
    if (problem.isNotEmpty())
    {
        tool::reportRejectedPackages (update != nullptr ? update->findUpdater() : replay->findUpdater());
        tool::fail (problem);
    }

    if (update != nullptr && !given.connected.empty())
    {
        juce::StringArray programs;
        for (auto& name : given.connected)
            programs.add (tool::toJuce (name));
        update->getLayer().setOtherProgramsConnected (update->getInstrument().getPortName(), programs);
    }

    auto& updater = update != nullptr ? update->getUpdater() : replay->getUpdater();
    auto& clock = update != nullptr ? update->getClock() : replay->getClock();
    checkStateNames (updater, untilState, clicks);
    printer.attach (updater, clock);
    tool::RunVerdict runVerdict (updater);
    printer.setVerdict (runVerdict);
    const auto statesClicked = clickedStates (clicks);

    catchTerminationSignals ({ TerminationSignal::interrupt, TerminationSignal::terminate, TerminationSignal::hangUp });
    GuardedSignals signals (readSignalCounts);
    juce::String stopReason;
    double stopDeadline = 0.0;

    const int result = tool::runWithMessageLoop (
        [&]
        {
            const auto start = clock.now();
            if (replay != nullptr)
                replay->start();
            else
                updater.startThread();

            int outcome = 1;
            for (;;)
            {
                if (printer.isDone() || runVerdict.restsInErrorState (statesClicked))
                {
                    outcome = 0;
                    break;
                }

                // A replay that differs answers nothing more: waiting on would only reach the limit.
                if (replay != nullptr && replay->getReplay().hasDiverged())
                    break;

                if (clock.now() - start > limitMilliseconds)
                    break;

                // A request held back until the verdict lets the verdict state run its instructions
                // (2 s of real time at most), so that the run still ends as it came out.
                const auto answer = answerSignals (signals, updater);
                if (answer.stopReason.isNotEmpty())
                {
                    stopReason = answer.stopReason;
                    if (!answer.afterVerdict)
                        break;
                    stopDeadline = juce::Time::getMillisecondCounterHiRes() + 2000.0;
                }
                if (stopDeadline > 0.0 && juce::Time::getMillisecondCounterHiRes() > stopDeadline)
                    break;

                for (auto& click : clicks)
                {
                    const auto due = click->due.load();
                    if (due >= 0 && ! click->pressed && clock.now() >= due)
                    {
                        click->pressed = true;
                        juce::MessageManager::callAsync ([&updater] { updater.buttonPressed ("InstallCancel"); });
                    }
                }

                juce::Thread::sleep (2);
            }

            printer.close();
            updater.stopThread (5000);
            return outcome;
        });
    const auto judged = runVerdict.judge(); // while the updater is still there

    if (replay != nullptr)
    {
        const auto verdict = replay->getReplay().finish();
        replay = nullptr;
        std::cerr << verdict << std::endl;
        if (verdict.startsWith ("replay: diverged"))
            return tool::exitFailure;
    }

    if (stopReason.isNotEmpty() && result != 0)
    {
        update = nullptr;
        tool::fail (stopReason);
    }

    if (result != 0)
    {
        update = nullptr;
        tool::fail ("The time limit passed before '" + untilState + "' was entered and its instructions had run.");
    }

    update = nullptr;
    std::cerr << judged.line << std::endl;
    return judged.exitCode;
}

const tool::CommandRegistration runCommand ({
    "run",
    "Runs a whole update against a simulated instrument",
    "Builds the update engine as the app does (the inbuilt definitions unless --definitions; device Quillbox\n"
    "unless --device; the packages given with --package, files or folders; the newest version unless\n"
    "--firmware) on a virtual MIDI layer with one silent port and one simulated instrument (SPEC as in\n"
    "vfu poll), and a simulated user who restarts the instrument into its bootloader a few seconds after\n"
    "the instructions ask for it. Prints every report of the engine as one JSON object a line, in order:\n"
    "{\"report\":\"stateChanged\",\"previous\":...,\"state\":...}, textFieldChanged (name, text, visible),\n"
    "buttonChanged (name, text, enabled), printMessage (text, flag), progressChanged (fraction, and\n"
    "secondsLeft: the clock seconds the transfer still needs, so --speed does not change it),\n"
    "warningShown (text), noticeChanged (notice, text; an empty text withdraws it), guardChanged\n"
    "(guarded); --log adds {\"log\":...} for each log line.\n"
    "--connected NAME declares a program connected to the instrument's ports besides the updater, as a DAW\n"
    "would be (repeatable): the updater warns of it before the erase.\n"
    "--click STATE+SECONDS presses InstallCancel that many clock seconds after STATE is entered (repeatable).\n"
    "--fault hands a fault to the instrument: drop-replies, reply-delay=MS, garble-replies, short-replies,\n"
    "unrelated-sysex, vanish-after=BYTES, never-come-back.\n"
    "--speed N runs the clock N times faster (default 1). The run ends once STATE (--until, default\n"
    "\"Download complete\") has been entered and its instructions have run, or once an error state (a name\n"
    "beginning \"Error\") has that no --click waits for, and exits by the update's verdict, as vfu update\n"
    "judges it, in a last line on standard error: \"result: succeeded, installed V (package V)\" (exit code\n"
    "0) at rest after a transfer with the package's version; \"result: failed: WHY\" (exit code 1) in an\n"
    "error state or at rest after a transfer with the instrument not in its firmware or on another version;\n"
    "\"result: stopped in \"STATE\", before the update's end\" (exit code 0) otherwise. Exit code 1 when\n"
    "--limit clock seconds (default 600) pass first. An --until or --click STATE the machine does not have\n"
    "is a usage error.\n"
    "--record FILE writes what the updater exchanges with the MIDI layer to FILE (docs/recordings.md).\n"
    "--replay FILE plays a recording as the instrument instead of --simulate: the device model and package\n"
    "version are the recording's, the packages those given with --package. It prints \"replay: matched N\n"
    "lines\" on standard error, or at the first difference \"replay: diverged at line N: expected ...,\n"
    "got ...\" and exit code 1 whatever state was reached. A recording that cannot be read is refused with\n"
    "its line number and the reason (exit code 2).\n"
    "Signals as vfu update answers them: during the guarded phase (from just before the erase until the\n"
    "verdict) a first Ctrl-C prints that an update is in progress and that a second within 3 seconds\n"
    "stops it, and the update goes on; a second one within 3 seconds stops the run with exit code 1,\n"
    "saying that the instrument is left in its bootloader and that running the update again restores it.\n"
    "SIGTERM and SIGHUP during the phase wait for the verdict; outside it Ctrl-C, SIGTERM and SIGHUP stop\n"
    "the run (exit code 1).",
    "",
    [] (CLI::App& app) -> std::function<int()>
    {
        auto options = std::make_shared<RunOptions>();
        app.add_option ("--simulate", options->simulate,
                        "The simulated instrument: MODEL[:VERSION|:bootloader][:panel=B]");
        app.add_option ("--replay", options->replay, "A recording to play as the instrument, instead of --simulate");
        app.add_option ("--record", options->record, "Record what the updater exchanges with the MIDI system to FILE");
        app.add_option ("--definitions", options->definitions, "A definition document instead of the inbuilt one");
        app.add_option ("--device", options->device, "The device model to load")->default_str ("Quillbox");
        tool::addRepeatableOption (app, "--package", options->packages, "A package file or folder to collect (repeatable)");
        app.add_option ("--firmware", options->firmware, "The package version to select (default: the newest)");
        app.add_option ("--until", options->until, "The state that ends the run")->default_str ("Download complete");
        tool::addNumberOption (app, "--limit", options->limit, "Clock seconds before the run gives up", 0.0, 1.0e7)->default_str ("600");
        tool::addRepeatableOption (app, "--click", options->clicks, "Press InstallCancel SECONDS after STATE is entered: STATE[+SECONDS]");
        tool::addRepeatableOption (app, "--connected", options->connected,
                                   "A program connected to the instrument's ports besides the updater (repeatable)");
        tool::addRepeatableOption (app, "--fault", options->faults, "A fault of the instrument: NAME[=VALUE] (repeatable)");
        tool::addNumberOption (app, "--speed", options->speed, "Clock speed against real time", 0.01, 10000.0)->default_str ("1");
        app.add_flag ("--log", options->log, "Print the log lines too");
        return [options] { return run (*options); };
    },
});
} // namespace
} // namespace vfu
