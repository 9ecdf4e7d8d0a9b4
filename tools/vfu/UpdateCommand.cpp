// vfu update: the app's updater without a window, on the computer's real MIDI ports.
#include "CommandRegistry.h"
#include "ProgramVersion.h"
#include "TerminalQuestion.h"

#include "core/Log.h"
#include "DefinitionArguments.h"
#include "PackageRejections.h"
#include "core/TerminationSignals.h"
#include "definitions/DefinitionSource.h"
#include "engine/HeadlessUpdate.h"
#include "midi/JuceMidiLayer.h"
#include "midi/MIDIPortsSelector.h"
#include "midi/RecordingMidiLayer.h"

#include <atomic>
#include <cmath>
#include <iostream>
#include <mutex>

#if JUCE_WINDOWS
#include <io.h>
#else
#include <unistd.h>
#endif

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

bool isTerminal (int descriptor)
{
#if JUCE_WINDOWS
    return _isatty (descriptor) != 0;
#else
    return isatty (descriptor) != 0;
#endif
}

// A text on one line of output: the definitions' texts carry CR LF line ends, and a CR that reached
// a terminal would send the cursor back and let the rest overwrite the line.
juce::String onOneLine (const juce::String& text)
{
    return text.replace ("\r\n", "\n").replaceCharacter ('\r', '\n').replace ("\n", " / ");
}

// Empty when the computer's MIDI system can be reached, else what stands in the way (as the log's
// "MIDI system not available" line says it).
juce::String findMidiSystemProblem()
{
    const auto native = createNativeMidiSystem();
    juce::String problem;
    return native.system->isAvailable (problem) ? juce::String() : "MIDI system not available (" + problem + ")";
}

// Prints what the updater reports: the instructions each time they change, the state names, and
// the progress of a transfer (a bar on a terminal, a line every 10 % otherwise); or with --json one
// object a line as vfu run does.
class UpdatePrinter final : public FirmwareUpdaterCallback, public LogObserver
{
public:
    UpdatePrinter (bool jsonToUse, bool logLines)
        : json (jsonToUse), bar (!jsonToUse && isTerminal (1)), withLog (logLines)
    {
        if (withLog)
            addLogObserver (this);
    }

    ~UpdatePrinter() override
    {
        if (withLog)
            removeLogObserver (this);
    }

    void stateChanged (juce::String previousState, juce::String newState) override
    {
        endBar();
        secondsLeft = 0.0;
        auto* object = report ("stateChanged");
        object->setProperty ("previous", previousState);
        object->setProperty ("state", newState);
        emit (object, "state: " + newState);
    }

    void textFieldChanged (juce::String name, juce::String text, bool visible) override
    {
        auto* object = report ("textFieldChanged");
        object->setProperty ("name", name);
        object->setProperty ("text", text);
        object->setProperty ("visible", visible);

        const bool newInstructions = name == "InstructionsField" && visible && text != instructions;
        if (name == "InstructionsField")
            instructions = visible ? text : juce::String();

        if (newInstructions)
            endBar();
        emit (object, newInstructions ? "instructions: " + onOneLine (text) : juce::String());
    }

    void buttonChanged (juce::String name, juce::String text, bool enabled) override
    {
        auto* object = report ("buttonChanged");
        object->setProperty ("name", name);
        object->setProperty ("text", text);
        object->setProperty ("enabled", enabled);
        emit (object, {});
    }

    void printMessage (juce::String text, bool flag) override
    {
        endBar();
        auto* object = report ("printMessage");
        object->setProperty ("text", text);
        object->setProperty ("flag", flag);
        emit (object, "print: " + onOneLine (text));
    }

    void progressChanged (double fraction) override
    {
        auto* object = report ("progressChanged");
        object->setProperty ("fraction", fraction);
        object->setProperty ("secondsLeft", secondsLeft.load());

        const int percent = juce::jlimit (0, 100, (int) (fraction * 100.0));
        if (json)
        {
            emit (object, {});
            return;
        }

        delete object;
        std::lock_guard<std::mutex> guard (printLock);

        if (fraction <= 0.0)
        {
            lastTenth = -1;
            return;
        }

        if (bar)
        {
            const int filled = percent / 4;
            std::cout << "\r[" << std::string ((size_t) filled, '#') << std::string ((size_t) (25 - filled), ' ')
                      << "] " << percent << "% " << formatTimeLeft (secondsLeft.load()) << "   " << std::flush;
            barShown = true;
            return;
        }

        if (percent / 10 != lastTenth)
        {
            lastTenth = percent / 10;
            std::cout << "progress: " << percent << "% (" << formatTimeLeft (secondsLeft.load()) << ")" << std::endl;
        }
    }

    void warningShown (juce::String text) override
    {
        endBar();
        auto* object = report ("warningShown");
        object->setProperty ("text", text);
        emit (object, "warning: " + onOneLine (text));
    }

    void logLineWritten (const juce::String& text) override
    {
        auto* object = new juce::DynamicObject();
        object->setProperty ("log", text);
        emit (object, "log: " + text);
    }

    // The engine reports the time left just before each progress step, which shows it.
    void timeLeftChanged (double seconds) override { secondsLeft = seconds; }

    // A notice is printed when it appears; its withdrawal only goes into the JSON lines.
    void noticeChanged (Notice which, juce::String text) override
    {
        endBar();
        auto* object = report ("noticeChanged");
        object->setProperty ("notice", nameOf (which));
        object->setProperty ("text", text);
        emit (object, text.isNotEmpty() ? "notice: " + onOneLine (text) : juce::String());
    }

    void guardChanged (bool guarded) override
    {
        auto* object = report ("guardChanged");
        object->setProperty ("guarded", guarded);
        emit (object, {});
    }

    // What the person must know now, such as a first Ctrl-C during the update: on standard error,
    // beside the questions, so that standard output keeps only reports.
    void told (const juce::String& text)
    {
        endBar();
        std::lock_guard<std::mutex> guard (printLock);
        std::cerr << text << std::endl;
    }

    void pressed (const juce::String& buttonText)
    {
        endBar();
        auto* object = new juce::DynamicObject();
        object->setProperty ("pressed", buttonText);
        emit (object, "pressed: " + buttonText);
    }

    void result (HeadlessUpdate& update, HeadlessUpdate::Outcome outcome)
    {
        endBar();
        const int code = HeadlessUpdate::exitCodeFor (outcome);

        // Without a MIDI system no instrument can ever be found: the reason has to say so.
        auto reason = update.getReason();
        if (outcome != HeadlessUpdate::Outcome::succeeded)
        {
            const auto midiProblem = findMidiSystemProblem();
            if (midiProblem.isNotEmpty())
                reason << "; " << midiProblem;
        }

        auto* object = new juce::DynamicObject();
        object->setProperty ("result", HeadlessUpdate::nameOf (outcome));
        object->setProperty ("reason", reason);
        object->setProperty ("installed", update.getIdentifiedVersion());
        object->setProperty ("package", update.getSelectedVersion());
        object->setProperty ("exitCode", code);

        juce::String line = "result: " + juce::String (HeadlessUpdate::nameOf (outcome));
        if (outcome == HeadlessUpdate::Outcome::succeeded)
            line << ", installed " << update.getIdentifiedVersion() << " (package " << update.getSelectedVersion()
                 << ")";
        else
            line << ": " << onOneLine (reason);
        emit (object, line);
    }

    // Asked on the update's thread when a button other than Cancel is offered. The question goes to
    // standard error, so that standard output keeps only reports (one JSON object a line with --json).
    static HeadlessUpdate::Answer ask (const juce::String& buttonText, int millisecondsLeft)
    {
        if (!isTerminal (0))
        {
            std::cerr << "Press \"" << buttonText << "\"? no terminal to ask: not pressed (use --yes)" << std::endl;
            return HeadlessUpdate::Answer::no;
        }

        switch (tool::askYesNo ("Press \"" + buttonText + "\"?", millisecondsLeft))
        {
            case tool::Reply::yes:
                return HeadlessUpdate::Answer::yes;
            case tool::Reply::no:
                return HeadlessUpdate::Answer::no;
            case tool::Reply::interrupted:
                return HeadlessUpdate::Answer::interrupted;
            case tool::Reply::timeUp:
                return HeadlessUpdate::Answer::timeUp;
        }
        return HeadlessUpdate::Answer::no;
    }

private:
    juce::DynamicObject* report (const char* kind)
    {
        auto* object = new juce::DynamicObject();
        object->setProperty ("report", kind);
        return object;
    }

    void emit (juce::DynamicObject* object, const juce::String& line)
    {
        const juce::var value (object);
        std::lock_guard<std::mutex> guard (printLock);
        if (json)
            std::cout << juce::JSON::toString (value, true).toStdString() << std::endl;
        else if (line.isNotEmpty())
            std::cout << line.toStdString() << std::endl;
    }

    void endBar()
    {
        std::lock_guard<std::mutex> guard (printLock);
        if (barShown)
            std::cout << std::endl;
        barShown = false;
    }

    static const char* nameOf (Notice which)
    {
        switch (which)
        {
            case Notice::waitingForFirmware:
                return "waitingForFirmware";
            case Notice::portInUse:
                return "portInUse";
            case Notice::keepConnected:
                return "keepConnected";
        }
        return "?";
    }

    // "2:15 left", in whole seconds rounded up.
    static std::string formatTimeLeft (double seconds)
    {
        const int whole = (int) std::ceil (juce::jmax (0.0, seconds));
        return (juce::String (whole / 60) + ":" + juce::String (whole % 60).paddedLeft ('0', 2) + " left")
            .toStdString();
    }

    const bool json, bar, withLog;
    std::atomic<double> secondsLeft{ 0.0 };
    std::mutex printLock;
    juce::String instructions; // message thread
    int lastTenth = -1;
    bool barShown = false;
};

// The document the app would load: StateMachines.xml beside the program, else (an empty File) the inbuilt one.
juce::File findAppDefinitionFile()
{
    const auto file = definitions::getExecutableFolder().getChildFile (definitions::definitionFileName);
    return file.existsAsFile() ? file : juce::File();
}

int update (const UpdateOptions& given)
{
    const auto timeoutText = tool::toJuce (given.timeout);
    const double timeoutSeconds = timeoutText.getDoubleValue();
    if (timeoutText.isEmpty() || !timeoutText.containsOnly ("0123456789.") || timeoutSeconds <= 0.0 ||
        timeoutSeconds > 1.0e6)
        tool::failUsage ("--timeout takes a number of seconds above 0, not " + timeoutText.quoted());

    const auto device = tool::toJuce (given.device);
    if (device.isEmpty())
        tool::failUsage ("--device needs a non-empty device name");

    juce::Array<juce::File> packageFiles;
    for (auto& path : given.packages)
    {
        const auto file = tool::resolvePath (tool::toJuce (path));
        if (!file.exists())
            tool::failUsage ("No package at " + file.getFullPathName());
        packageFiles.add (file);
    }

    juce::File definitionFile;
    if (!given.definitions.empty())
        definitionFile = tool::resolveDefinitionFile (given.definitions);
    tool::requireDeviceModel (definitionFile != juce::File() ? definitionFile : findAppDefinitionFile(), device);

    // Counted instead of ending the process: the run stops cleanly, or holds them back while the
    // update is guarded (GuardedSignals).
    catchTerminationSignals (
        { TerminationSignal::interrupt, TerminationSignal::terminate, TerminationSignal::hangUp });

    UpdatePrinter printer (given.json, given.log);

    HeadlessUpdate::Hooks hooks;
    hooks.reports = &printer;
    hooks.interrupts = [] { return getTerminationSignalCount (TerminationSignal::interrupt); };
    hooks.terminations = []
    { return getTerminationSignalCount (TerminationSignal::terminate) + getTerminationSignalCount (TerminationSignal::hangUp); };
    hooks.told = [&printer] (const juce::String& text) { printer.told (text); };
    hooks.pressed = [&printer] (const juce::String& text) { printer.pressed (text); };
    if (!given.yes)
        hooks.confirm = [] (const juce::String& text, int millisecondsLeft)
        { return UpdatePrinter::ask (text, millisecondsLeft); };

    // As the app: the program-wide port selector on the real MIDI layer and the real clock; packages
    // from --package, else from the folders the app searches (beside vfu, the desktop).
    const auto executableFolder = definitions::getExecutableFolder();
    const auto searchFolders =
        packageFiles.isEmpty() ? definitions::getFirmwareSearchFolders (executableFolder) : packageFiles;
    UpdaterEnvironment environment;

    // --record: the same layer and clock as the app's, seen through a recording.
    std::unique_ptr<RecordingMidiLayer> recorder;
    std::unique_ptr<MIDIPortsSelector> recordedSelector;
    if (!given.record.empty())
    {
        juce::String problem;
        auto file = RecordingMidiLayer::createFile (tool::resolvePath (tool::toJuce (given.record)), problem);
        if (file == nullptr)
            tool::fail (problem);

        auto& shipped = MIDIPortsSelector::getProgramWideInstance();
        recorder = std::make_unique<RecordingMidiLayer> (shipped.getMidiLayer(), shipped.getClock(), std::move (file),
                                                         tool::programVersion, device);
        recordedSelector = std::make_unique<MIDIPortsSelector> (*recorder, shipped.getClock());
        environment.portsSelector = recordedSelector.get();
    }

    std::unique_ptr<HeadlessUpdate> headless;
    try
    {
        headless = std::make_unique<HeadlessUpdate> (
            [&] (FirmwareUpdaterCallback* callback) -> std::unique_ptr<FirmwareUpdater>
            {
                if (definitionFile != juce::File())
                    return std::make_unique<FirmwareUpdater> (definitionFile, device, false, callback, searchFolders,
                                                              environment);
                return definitions::createFirmwareUpdaterForApplication (executableFolder, device, callback,
                                                                         searchFolders, environment);
            },
            hooks);
    }
    catch (const FirmwareUpdater::FirmwareUpdaterException& e)
    {
        tool::fail (e.message);
    }

    if (headless->getUpdater().getMachine() == nullptr)
        tool::fail ("The definitions hold no state machine for '" + device + "'.");

    const auto version = tool::toJuce (given.firmware);
    if (!headless->selectFirmware (version))
    {
        tool::reportRejectedPackages (&headless->getUpdater());
        tool::fail (version.isEmpty() ? juce::String ("No firmware file was found.")
                                      : "No firmware package has the version " + version.quoted() + ".");
    }

    auto& selector = headless->getUpdater().getPortsSelector();
    if (!given.input.empty() && !selector.selectInputPort (tool::toJuce (given.input)))
        tool::fail ("No MIDI input named " + tool::toJuce (given.input).quoted() +
                    " (inputs: " + selector.getInputNames().joinIntoString (", ") + ")");
    if (!given.output.empty() && !selector.selectOutputPort (tool::toJuce (given.output)))
        tool::fail ("No MIDI output named " + tool::toJuce (given.output).quoted() +
                    " (outputs: " + selector.getOutputNames().joinIntoString (", ") + ")");

    const int code = tool::runWithMessageLoop (
        [&]
        {
            const auto outcome = headless->run ((int) (timeoutSeconds * 1000.0));
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
        tool::addNumberOption (app, "--timeout", options->timeout, "Seconds before giving up (exit 3)", 0.0, 1.0e6)->default_str ("600");
        app.add_option ("--record", options->record, "Record what the updater exchanges with the MIDI system to FILE");
        return [options] { return update (*options); };
    },
});
} // namespace
} // namespace vfu
