// vfu run: a whole update by the real engine against one simulated instrument and a simulated user,
// printing every report of the engine as one JSON object a line.
#include "CommandRegistry.h"
#include "DefinitionArguments.h"
#include "PackageRejections.h"
#include "ProgramVersion.h"
#include "RunReportPrinter.h"
#include "RunSignals.h"
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
// --until and --click name states of the machine that runs; one it does not have would be
// ignored or waited for until --limit.
void checkStateNames (const FirmwareUpdater& updater, const juce::String& untilState, const tool::Clicks& clicks)
{
    const auto machineName = updater.getDeviceName().quoted();
    if (tool::RunVerdict::findUnknownStates (updater, { untilState }).size() > 0)
        tool::failUsage ("--until names no state of the " + machineName + " machine: " + untilState.quoted());

    for (auto& click : clicks)
        if (tool::RunVerdict::findUnknownStates (updater, { click->state }).size() > 0)
            tool::failUsage ("--click names no state of the " + machineName + " machine: " + click->state.quoted());
}

struct RunOptions
{
    std::string simulate, definitions, device = "Quillbox", firmware, until = "Download complete";
    std::string speed = "1", limit = "600", record, replay;
    std::vector<std::string> packages, clicks, faults, connected;
    bool log = false;
};

// --simulate or --replay, and what goes with which; checked before anything is read.
void checkInstrumentChoice (const RunOptions& given)
{
    if (given.simulate.empty() == given.replay.empty())
        tool::failUsage ("vfu run needs either --simulate SPEC or --replay FILE");
    if (!given.replay.empty() && (!given.faults.empty() || !given.record.empty()))
        tool::failUsage ("--replay takes no --fault or --record: the recording is the instrument");
    if (!given.replay.empty() && !given.connected.empty())
        tool::failUsage ("--replay takes no --connected: the recording is the instrument");
}

// The instrument the updater talks to: a simulated one (--simulate, --fault) or a recording.
struct InstrumentSource
{
    simulation::InstrumentSettings settings;
    recording::Recording replayed;
};

InstrumentSource readInstrument (const RunOptions& given)
{
    InstrumentSource source;
    juce::String error;
    if (!given.replay.empty())
    {
        const auto file = tool::resolvePath (tool::toJuce (given.replay));
        if (!recording::readFile (file, source.replayed, error))
            tool::failUsage ("replay: cannot read " + file.getFileName() + ": " + error);
    }
    else
    {
        const auto spec = simulation::SimulationSpec::parse (tool::toJuce (given.simulate), error);
        if (!spec)
            tool::failUsage (error);
        source.settings = spec->toSettings();
    }

    for (auto& fault : given.faults)
        if (!SimulatedUpdate::applyFault (source.settings.faults, tool::toJuce (fault), error))
            tool::failUsage (error);
    return source;
}

// How the engine is built: definitions, device, packages, firmware version, clock speed, --record.
SimulatedUpdate::Options readUpdateOptions (const RunOptions& given)
{
    SimulatedUpdate::Options options;
    if (!given.record.empty())
        options.recordingFile = tool::resolvePath (tool::toJuce (given.record));
    options.programName = tool::programVersion;
    options.deviceName = tool::toJuce (given.device);
    options.firmwareVersion = tool::toJuce (given.firmware);
    options.speed = tool::readNumber (given.speed);

    if (!given.definitions.empty())
        options.definitionFile = tool::resolveDefinitionFile (given.definitions);
    if (given.replay.empty())
        tool::requireDeviceModel (options.definitionFile, options.deviceName);

    for (auto& path : given.packages)
    {
        const auto file = tool::resolvePath (tool::toJuce (path));
        if (!file.exists())
            tool::failUsage ("No package at " + file.getFullPathName());
        options.packageFiles.add (file);
    }
    return options;
}

// The engine under test, with a simulated instrument or a replayed one (exactly one is set).
struct RunEngine
{
    std::unique_ptr<SimulatedUpdate> update;
    std::unique_ptr<ReplayedUpdate> replay;

    FirmwareUpdater& getUpdater() { return update != nullptr ? update->getUpdater() : replay->getUpdater(); }
    Clock& getClock() { return update != nullptr ? update->getClock() : replay->getClock(); }
};

RunEngine buildEngine (InstrumentSource& source, const SimulatedUpdate::Options& options, const RunOptions& given,
                       FirmwareUpdaterCallback& printer)
{
    RunEngine engine;
    try
    {
        if (given.replay.empty())
        {
            engine.update = std::make_unique<SimulatedUpdate> (source.settings, options, &printer);
        }
        else
        {
            ReplayedUpdate::Options replayOptions;
            replayOptions.definitionFile = options.definitionFile;
            replayOptions.packageFiles = options.packageFiles;
            replayOptions.firmwareVersion = options.firmwareVersion;
            replayOptions.speed = options.speed;
            engine.replay = std::make_unique<ReplayedUpdate> (std::move (source.replayed), replayOptions, &printer);
        }
    }
    catch (const FirmwareUpdater::FirmwareUpdaterException& e)
    {
        tool::fail (e.message);
    }

    const auto problem = engine.update != nullptr ? engine.update->getProblem() : engine.replay->getProblem();
    if (problem.isNotEmpty())
    {
        tool::reportRejectedPackages (engine.update != nullptr ? engine.update->findUpdater()
                                                               : engine.replay->findUpdater());
        tool::fail (problem);
    }

    if (engine.update != nullptr && !given.connected.empty())
    {
        juce::StringArray programs;
        for (auto& name : given.connected)
            programs.add (tool::toJuce (name));
        engine.update->getLayer().setOtherProgramsConnected (engine.update->getInstrument().getPortName(), programs);
    }
    return engine;
}

// How the watch over the run ended: 0 when it came to its end, 1 when it gave up; and why it had
// to stop, when a signal stopped it.
struct RunEnd
{
    int outcome = 1;
    juce::String stopReason;
};

// One look at the running update every few milliseconds: whether the watch ends, and how.
class RunWatch
{
public:
    RunWatch (RunEngine& engineToWatch, tool::RunReportPrinter& printerToAsk, const tool::RunVerdict& verdictToAsk,
              const tool::Clicks& clicks, GuardedSignals& signalsToAnswer, juce::int64 limit)
        : engine (engineToWatch), printer (printerToAsk), verdict (verdictToAsk), signals (signalsToAnswer),
          statesClicked (tool::clickedStates (clicks)), limitMilliseconds (limit), start (engine.getClock().now())
    {
    }

    // Set when the watch ends; empty while the run goes on.
    std::optional<RunEnd> look()
    {
        if (printer.isDone() || verdict.restsInErrorState (statesClicked))
            return RunEnd{ 0, stopReason };

        // A replay that differs answers nothing more: waiting on would only reach the limit.
        if (engine.replay != nullptr && engine.replay->getReplay().hasDiverged())
            return RunEnd{ 1, stopReason };

        if (engine.getClock().now() - start > limitMilliseconds)
            return RunEnd{ 1, stopReason };

        // A request held back until the verdict lets the verdict state run its instructions
        // (2 s of real time at most), so that the run still ends as it came out.
        const auto answer = tool::answerSignals (signals, engine.getUpdater());
        if (answer.stopReason.isNotEmpty())
        {
            stopReason = answer.stopReason;
            if (!answer.afterVerdict)
                return RunEnd{ 1, stopReason };
            stopDeadline = juce::Time::getMillisecondCounterHiRes() + 2000.0;
        }
        if (stopDeadline > 0.0 && juce::Time::getMillisecondCounterHiRes() > stopDeadline)
            return RunEnd{ 1, stopReason };
        return std::nullopt;
    }

private:
    RunEngine& engine;
    tool::RunReportPrinter& printer;
    const tool::RunVerdict& verdict;
    GuardedSignals& signals;
    const juce::StringArray statesClicked;
    const juce::int64 limitMilliseconds, start;
    juce::String stopReason;
    double stopDeadline = 0.0;
};

// Starts the engine and watches it until the --until state has run, an error state rests, the
// replay diverges, --limit passes or a signal stops the run; then stops the engine.
RunEnd watchRun (RunEngine& engine, tool::RunReportPrinter& printer, const tool::RunVerdict& verdict,
                 tool::Clicks& clicks, juce::int64 limitMilliseconds)
{
    catchTerminationSignals ({ TerminationSignal::interrupt, TerminationSignal::terminate, TerminationSignal::hangUp });
    GuardedSignals signals (tool::readSignalCounts);
    RunEnd end;

    end.outcome = tool::runWithMessageLoop (
        [&]
        {
            RunWatch watch (engine, printer, verdict, clicks, signals, limitMilliseconds);
            if (engine.replay != nullptr)
                engine.replay->start();
            else
                engine.getUpdater().startThread();

            auto looked = watch.look();
            for (; !looked.has_value(); looked = watch.look())
            {
                tool::pressDueClicks (clicks, engine.getClock(), engine.getUpdater());
                juce::Thread::sleep (2);
            }

            printer.close();
            engine.getUpdater().stopThread (5000);
            end.stopReason = looked->stopReason;
            return looked->outcome;
        });
    return end;
}

// The exit code and last line: the replay's verdict, a stop or the time limit, else the update's
// verdict. The engine goes before anything is said.
int finishRun (RunEngine& engine, const RunEnd& end, const tool::RunVerdict::Result& judged,
               const juce::String& untilState)
{
    if (engine.replay != nullptr)
    {
        const auto verdict = engine.replay->getReplay().finish();
        engine.replay = nullptr;
        std::cerr << verdict << std::endl;
        if (verdict.startsWith ("replay: diverged"))
            return tool::exitFailure;
    }

    engine.update = nullptr;
    if (end.stopReason.isNotEmpty() && end.outcome != 0)
        tool::fail (end.stopReason);
    if (end.outcome != 0)
        tool::fail ("The time limit passed before '" + untilState + "' was entered and its instructions had run.");

    std::cerr << judged.line << std::endl;
    return judged.exitCode;
}

int run (const RunOptions& given)
{
    checkInstrumentChoice (given);
    auto source = readInstrument (given);
    const auto options = readUpdateOptions (given);
    const auto untilState = tool::toJuce (given.until);
    const auto limitMilliseconds = (juce::int64) (tool::readNumber (given.limit) * 1000.0);

    tool::Clicks clicks;
    for (auto& text : given.clicks)
        clicks.push_back (tool::parseClick (tool::toJuce (text)));

    tool::RunReportPrinter printer (untilState, given.log, clicks);
    auto engine = buildEngine (source, options, given, printer);

    auto& updater = engine.getUpdater();
    checkStateNames (updater, untilState, clicks);
    printer.attach (updater, engine.getClock());
    tool::RunVerdict runVerdict (updater);
    printer.setVerdict (runVerdict);

    const auto end = watchRun (engine, printer, runVerdict, clicks, limitMilliseconds);
    const auto judged = runVerdict.judge(); // while the updater is still there
    return finishRun (engine, end, judged, untilState);
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
        tool::addRepeatableOption (app, "--package", options->packages,
                                   "A package file or folder to collect (repeatable)");
        app.add_option ("--firmware", options->firmware, "The package version to select (default: the newest)");
        app.add_option ("--until", options->until, "The state that ends the run")->default_str ("Download complete");
        tool::addNumberOption (app, "--limit", options->limit, "Clock seconds before the run gives up", 0.0, 1.0e7)
            ->default_str ("600");
        tool::addRepeatableOption (app, "--click", options->clicks,
                                   "Press InstallCancel SECONDS after STATE is entered: STATE[+SECONDS]");
        tool::addRepeatableOption (app, "--connected", options->connected,
                                   "A program connected to the instrument's ports besides the updater (repeatable)");
        tool::addRepeatableOption (app, "--fault", options->faults,
                                   "A fault of the instrument: NAME[=VALUE] (repeatable)");
        tool::addNumberOption (app, "--speed", options->speed, "Clock speed against real time", 0.01, 10000.0)
            ->default_str ("1");
        app.add_flag ("--log", options->log, "Print the log lines too");
        return [options] { return run (*options); };
    },
});
} // namespace
} // namespace vfu
