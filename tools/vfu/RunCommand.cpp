// vfu run: a whole update by the real engine against one simulated instrument and a simulated user,
// printing every report of the engine as one JSON object a line.
#include "CommandRegistry.h"

#include "core/Log.h"
#include "simulation/SimulatedUpdate.h"
#include "midi/MIDIPortsSelector.h"

#include <juce_events/juce_events.h>

#include <iostream>
#include <mutex>

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
        if (isDone())
            return;

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
        if (isDone())
            return;

        auto* object = new juce::DynamicObject();
        object->setProperty ("report", "progressChanged");
        object->setProperty ("fraction", fraction);
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
    std::atomic<int> untilMark { -1 };
    std::atomic<bool> done { false };
    std::mutex printLock;
};

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

double parseNumber (const juce::ArgumentList& args, const juce::String& option, double fallback, double minimum, double maximum)
{
    const auto text = tool::getOptionValue (args, option, juce::String (fallback));
    const auto value = text.getDoubleValue();
    if (text.isEmpty() || ! text.containsOnly ("0123456789.") || value < minimum || value > maximum)
        tool::failUsage (option + " takes a number from " + juce::String (minimum) + " to " + juce::String (maximum) + ", not "
                         + text.quoted());
    return value;
}

void run (const juce::ArgumentList& args)
{
    if (! args.containsOption ("--simulate"))
        tool::failUsage ("run needs --simulate SPEC");

    juce::String error;
    const auto spec = simulation::SimulationSpec::parse (tool::getOptionValue (args, "--simulate", {}), error);
    if (! spec)
        tool::failUsage (error);

    auto settings = spec->toSettings();
    for (auto& fault : tool::getOptionValues (args, "--fault"))
        if (! SimulatedUpdate::applyFault (settings.faults, fault, error))
            tool::failUsage (error);

    SimulatedUpdate::Options options;
    options.deviceName = tool::getOptionValue (args, "--device", "Quillbox");
    options.firmwareVersion = tool::getOptionValue (args, "--firmware", {});
    options.speed = parseNumber (args, "--speed", 1.0, 0.01, 10000.0);

    if (args.containsOption ("--definitions"))
    {
        options.definitionFile = args.getFileForOption ("--definitions");
        if (! options.definitionFile.existsAsFile())
            tool::failUsage ("No definition document at " + options.definitionFile.getFullPathName());
    }

    for (auto& path : tool::getOptionValues (args, "--package"))
    {
        const auto file = juce::File::getCurrentWorkingDirectory().getChildFile (path);
        if (! file.exists())
            tool::failUsage ("No package at " + file.getFullPathName());
        options.packageFiles.add (file);
    }

    const auto untilState = tool::getOptionValue (args, "--until", "Download complete");
    const auto limitMilliseconds = (juce::int64) (parseNumber (args, "--limit", 600.0, 0.0, 1.0e7) * 1000.0);

    std::vector<std::unique_ptr<Click>> clicks;
    for (auto& text : tool::getOptionValues (args, "--click"))
        clicks.push_back (parseClick (text));

    ReportPrinter printer (untilState, args.containsOption ("--log"), clicks);
    std::unique_ptr<SimulatedUpdate> update;

    try
    {
        update = std::make_unique<SimulatedUpdate> (settings, options, &printer);
    }
    catch (const FirmwareUpdater::FirmwareUpdaterException& e)
    {
        std::cerr << e.message << std::endl;
        juce::ConsoleApplication::fail ({}, 1);
    }

    if (update->getProblem().isNotEmpty())
    {
        std::cerr << update->getProblem() << std::endl;
        juce::ConsoleApplication::fail ({}, 1);
    }

    auto& updater = update->getUpdater();
    auto& clock = update->getClock();
    printer.attach (updater, clock);

    const int result = tool::runWithMessageLoop (
        [&]
        {
            const auto start = clock.now();
            updater.startThread();

            int outcome = 1;
            for (;;)
            {
                if (printer.isDone())
                {
                    outcome = 0;
                    break;
                }

                if (clock.now() - start > limitMilliseconds)
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

    update = nullptr;

    if (result != 0)
    {
        std::cerr << "The time limit passed before '" << untilState << "' was entered and its instructions had run." << std::endl;
        juce::ConsoleApplication::fail ({}, 1);
    }
}

const tool::CommandRegistration runCommand ({
    "run",
    "run --simulate SPEC [--definitions FILE] [--device NAME] [--package FILE]... [--firmware VERSION] [--until STATE] "
    "[--limit SECONDS] [--click STATE[+SECONDS]]... [--fault NAME[=VALUE]]... [--speed N] [--log]",
    "Runs a whole update against a simulated instrument",
    "Builds the update engine as the app does (the inbuilt definitions unless --definitions; device Quillbox\n"
    "unless --device; the packages given with --package, files or folders; the newest version unless\n"
    "--firmware) on a virtual MIDI layer with one silent port and one simulated instrument (SPEC as in\n"
    "vfu poll), and a simulated user who restarts the instrument into its bootloader a few seconds after\n"
    "the instructions ask for it. Prints every report of the engine as one JSON object a line, in order:\n"
    "{\"report\":\"stateChanged\",\"previous\":...,\"state\":...}, textFieldChanged (name, text, visible),\n"
    "buttonChanged (name, text, enabled), printMessage (text, flag), progressChanged (fraction); --log adds\n"
    "{\"log\":...} for each log line.\n"
    "--click STATE+SECONDS presses InstallCancel that many clock seconds after STATE is entered (repeatable).\n"
    "--fault hands a fault to the instrument: drop-replies, reply-delay=MS, garble-replies, short-replies,\n"
    "unrelated-sysex, vanish-after=BYTES, never-come-back.\n"
    "--speed N runs the clock N times faster (default 1). Ends with exit code 0 once STATE (--until, default\n"
    "\"Download complete\") has been entered and its instructions have run; exit code 1 when --limit clock\n"
    "seconds (default 600) pass first.",
    run,
});
} // namespace
} // namespace vfu
