// vfu update: the app's updater without a window, on the computer's real MIDI ports.
#include "CommandRegistry.h"
#include "DefinitionArguments.h"
#include "PackageRejections.h"
#include "ProgramVersion.h"
#include "UpdatePrinter.h"

#include "core/TerminationSignals.h"
#include "definitions/DefinitionSource.h"
#include "engine/HeadlessUpdate.h"
#include "engine/RecordedPorts.h"
#include "midi/MIDIPortsSelector.h"

namespace vfu
{
namespace
{
struct UpdateOptions
{
    std::string input, output, firmware, definitions, device = "Quillbox", timeout = "600", record;
    std::vector<std::string> packages;
    bool yes = false, json = false, log = false;
};

// The document the app would load: StateMachines.xml beside the program, else (an empty File) the inbuilt one.
juce::File findAppDefinitionFile()
{
    const auto file = definitions::getExecutableFolder().getChildFile (definitions::definitionFileName);
    return file.existsAsFile() ? file : juce::File();
}

// What the options name, checked: the time-out, the device, the packages and the definitions.
struct UpdateSetup
{
    double timeoutSeconds = 0.0;
    juce::String device;
    juce::Array<juce::File> packageFiles;
    juce::File definitionFile; // a File() for the app's
};

UpdateSetup readSetup (const UpdateOptions& given)
{
    UpdateSetup setup;

    // CLI11 has checked the number and its range; a time-out of 0 would end before anything began.
    setup.timeoutSeconds = tool::readNumber (given.timeout);
    if (setup.timeoutSeconds <= 0.0)
        tool::failUsage ("--timeout takes a number of seconds above 0, not " + tool::toJuce (given.timeout).quoted());

    setup.device = tool::toJuce (given.device);
    if (setup.device.isEmpty())
        tool::failUsage ("--device needs a non-empty device name");

    for (auto& path : given.packages)
    {
        const auto file = tool::resolvePath (tool::toJuce (path));
        if (!file.exists())
            tool::failUsage ("No package at " + file.getFullPathName());
        setup.packageFiles.add (file);
    }

    if (!given.definitions.empty())
        setup.definitionFile = tool::resolveDefinitionFile (given.definitions);
    tool::requireDeviceModel (setup.definitionFile != juce::File() ? setup.definitionFile : findAppDefinitionFile(),
                              setup.device);
    return setup;
}

// The printer hears every report, the signal counts and button presses; without --yes, vfu asks.
HeadlessUpdate::Hooks makeHooks (tool::UpdatePrinter& printer, bool yes)
{
    HeadlessUpdate::Hooks hooks;
    hooks.reports = &printer;
    hooks.interrupts = [] { return getTerminationSignalCount (TerminationSignal::interrupt); };
    hooks.terminations = []
    {
        return getTerminationSignalCount (TerminationSignal::terminate) +
               getTerminationSignalCount (TerminationSignal::hangUp);
    };
    hooks.told = [&printer] (const juce::String& text) { printer.told (text); };
    hooks.pressed = [&printer] (const juce::String& text) { printer.pressed (text); };
    if (!yes)
        hooks.confirm = [] (const juce::String& text, int millisecondsLeft)
        { return tool::UpdatePrinter::ask (text, millisecondsLeft); };
    return hooks;
}

// As the app: the program-wide port selector on the real MIDI layer and the real clock (seen
// through a recording with --record); packages from --package, else from the folders the app
// searches (beside vfu, the desktop).
std::unique_ptr<HeadlessUpdate> buildUpdate (const UpdateSetup& setup, const UpdaterEnvironment& environment,
                                             const HeadlessUpdate::Hooks& hooks)
{
    const auto executableFolder = definitions::getExecutableFolder();
    const auto searchFolders =
        setup.packageFiles.isEmpty() ? definitions::getFirmwareSearchFolders (executableFolder) : setup.packageFiles;

    std::unique_ptr<HeadlessUpdate> headless;
    try
    {
        headless = std::make_unique<HeadlessUpdate> (
            [&] (FirmwareUpdaterCallback* callback) -> std::unique_ptr<FirmwareUpdater>
            {
                if (setup.definitionFile != juce::File())
                    return std::make_unique<FirmwareUpdater> (setup.definitionFile, setup.device, false, callback,
                                                              searchFolders, environment);
                return definitions::createFirmwareUpdaterForApplication (executableFolder, setup.device, callback,
                                                                         searchFolders, environment);
            },
            hooks);
    }
    catch (const FirmwareUpdater::FirmwareUpdaterException& e)
    {
        tool::fail (e.message);
    }

    if (headless->getUpdater().getMachine() == nullptr)
        tool::fail ("The definitions hold no state machine for '" + setup.device + "'.");
    return headless;
}

// --firmware's package (the newest without it), and the ports --input and --output name.
void selectFirmwareAndPorts (HeadlessUpdate& headless, const UpdateOptions& given)
{
    const auto version = tool::toJuce (given.firmware);
    if (!headless.selectFirmware (version))
    {
        tool::reportRejectedPackages (&headless.getUpdater());
        tool::fail (version.isEmpty() ? juce::String ("No firmware file was found.")
                                      : "No firmware package has the version " + version.quoted() + ".");
    }

    auto& selector = headless.getUpdater().getPortsSelector();
    if (!given.input.empty() && !selector.selectInputPort (tool::toJuce (given.input)))
        tool::fail ("No MIDI input named " + tool::toJuce (given.input).quoted() +
                    " (inputs: " + selector.getInputNames().joinIntoString (", ") + ")");
    if (!given.output.empty() && !selector.selectOutputPort (tool::toJuce (given.output)))
        tool::fail ("No MIDI output named " + tool::toJuce (given.output).quoted() +
                    " (outputs: " + selector.getOutputNames().joinIntoString (", ") + ")");
}

int update (const UpdateOptions& given)
{
    const auto setup = readSetup (given);

    // Counted instead of ending the process: the run stops cleanly, or holds them back while the
    // update is guarded (GuardedSignals).
    catchTerminationSignals ({ TerminationSignal::interrupt, TerminationSignal::terminate, TerminationSignal::hangUp });

    tool::UpdatePrinter printer (given.json, given.log);
    const auto hooks = makeHooks (printer, given.yes);

    UpdaterEnvironment environment;
    std::unique_ptr<RecordedPorts> recording; // outlives the update, which uses its selector
    if (!given.record.empty())
    {
        juce::String problem;
        recording = RecordedPorts::wrap (environment, tool::resolvePath (tool::toJuce (given.record)),
                                         tool::programVersion, setup.device, problem);
        if (recording == nullptr)
            tool::fail (problem);
    }

    auto headless = buildUpdate (setup, environment, hooks);
    selectFirmwareAndPorts (*headless, given);

    const int code = tool::runWithMessageLoop (
        [&]
        {
            const auto outcome = headless->run ((int) (setup.timeoutSeconds * 1000.0));
            printer.result (*headless, outcome);
            return HeadlessUpdate::exitCodeFor (outcome);
        });

    headless = nullptr;
    return code;
}

const tool::CommandRegistration updateCommand ({
    "update",
    "Updates an instrument on the computer's MIDI ports without a window",
    "Runs the app's updater (the same engine, port selector and real MIDI layer) headless. The definitions\n"
    "are the app's (StateMachines.xml beside vfu, else the inbuilt document) unless --definitions; the\n"
    "packages those given with --package (files or folders), else those in vfu's folder and on the\n"
    "desktop; the newest version unless --firmware. Ports are Auto unless --input / --output name them\n"
    "(as listed by vfu ports; repeated names are listed as \"NAME (2)\"...).\n"
    "Prints \"state: NAME\" for every state, \"instructions: TEXT\" whenever the instructions change, the\n"
    "transfer's progress with the time it still needs (a bar on a terminal, \"progress: N% (M:SS left)\"\n"
    "every 10 % otherwise), \"pressed: TEXT\" for every button pressed, \"warning: TEXT\" when the updater\n"
    "warns (other programs connected to the instrument before the erase; the update goes on),\n"
    "\"notice: TEXT\" for a notice (the instrument waits for firmware from an update that did not finish:\n"
    "installing restores it), and at the end \"result: succeeded, installed V (package V)\", or\n"
    "\"result: failed: WHY\", \"result: timed out: WHY\", \"result: interrupted: WHY\".\n"
    "--json prints one JSON object a line instead: the reports as vfu run prints them, {\"pressed\":TEXT},\n"
    "and {\"result\":..., \"reason\":..., \"installed\":..., \"package\":..., \"exitCode\":N}.\n"
    "--log adds the log lines (\"log: TEXT\", {\"log\":TEXT}).\n"
    "A button other than Cancel that is offered and enabled is pressed with --yes; otherwise vfu asks\n"
    "(y/N, the question on standard error) on the terminal; without a terminal it is not pressed.\n"
    "Ctrl-C, SIGTERM, SIGHUP or the end of --timeout end the question: an answer not given counts as no.\n"
    "A button is pressed once at most in a run, and never after a transfer (it would erase and flash the\n"
    "instrument again).\n"
    "The update is guarded from just before the erase until its verdict (success, failure, a broken\n"
    "connection, a cancel): the first Ctrl-C then prints that an update is in progress and that a second\n"
    "Ctrl-C within 3 seconds stops it, and the update goes on; a second one within 3 seconds stops the\n"
    "run (exit 1, \"result: interrupted: ...\" saying that the instrument is left in its bootloader and that\n"
    "running the update again restores it). SIGTERM and SIGHUP during the guarded phase, and the end of\n"
    "--timeout, wait for the verdict. Outside it Ctrl-C, SIGTERM and SIGHUP stop at once. The engine is\n"
    "always stopped before vfu exits.\n"
    "The update ends once, after a transfer, nothing is left to press: exit 0 when the instrument was\n"
    "identified again in its firmware and reports the selected package's version; 1 when it reports\n"
    "another version or none, when an offered button was declined or offered again, or when\n"
    "interrupted. It ends at once with 1 in an error state, a state whose name begins with the word\n"
    "\"Error\" (\"Error, no device\"): only a person can resolve it; the result gives its instructions.\n"
    "When the update fails and the computer's MIDI system cannot be reached, the result says so.\n"
    "--record FILE writes what the updater exchanges with the MIDI system to FILE, one JSON object a line\n"
    "(docs/recordings.md); vfu simulate --replay FILE or vfu run --replay FILE plays it back.",
    "  3  no end within --timeout seconds (default 600)\n",
    [] (CLI::App& app) -> std::function<int()>
    {
        auto options = std::make_shared<UpdateOptions>();
        app.add_option ("--input", options->input, "The MIDI input to use (default: Auto)");
        app.add_option ("--output", options->output, "The MIDI output to use (default: Auto)");
        tool::addRepeatableOption (app, "--package", options->packages,
                                   "A package file or folder to collect (repeatable)");
        app.add_option ("--firmware", options->firmware, "The package version to install (default: the newest)");
        app.add_option ("--definitions", options->definitions, "A definition document instead of the app's");
        app.add_option ("--device", options->device, "The device model to load")->default_str ("Quillbox");
        app.add_flag ("--yes", options->yes, "Press every offered button (other than Cancel) without asking");
        app.add_flag ("--json", options->json, "One JSON object a line");
        app.add_flag ("--log", options->log, "Print the log lines too");
        tool::addNumberOption (app, "--timeout", options->timeout, "Seconds before giving up (exit 3)", 0.0, 1.0e6)
            ->default_str ("600");
        app.add_option ("--record", options->record, "Record what the updater exchanges with the MIDI system to FILE");
        return [options] { return update (*options); };
    },
});
} // namespace
} // namespace vfu
