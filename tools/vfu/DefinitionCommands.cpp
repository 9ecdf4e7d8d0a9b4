// vfu check-definitions / dump-definitions: load a definition document the way the app does and
// report the outcome or the loaded model.
#include "CommandRegistry.h"
#include "DefinitionArguments.h"

#include "definitions/DefinitionReport.h"

namespace
{
using vfu::definitions::DefinitionCommand;

struct DefinitionOptions
{
    std::string file;
    std::string device = "Quillbox";
    bool consoleMode = false;
};

std::function<int()> defineDefinitionCommand (CLI::App& app, DefinitionCommand command)
{
    auto options = std::make_shared<DefinitionOptions>();
    app.add_option ("FILE", options->file, "The definition document (default: the inbuilt one)");
    app.add_option ("--device", options->device, "The device model to load")->default_str ("Quillbox");
    app.add_flag ("--console-mode", options->consoleMode, "Load the updater meant for console mode");

    return [options, command]
    {
        if (options->device.empty())
            vfu::tool::failUsage ("--device needs a non-empty device name");

        juce::File definitionFile;

        // The app would fall back to the inbuilt document; a checker asked for a file must not.
        if (!options->file.empty())
            definitionFile = vfu::tool::resolveDefinitionFile (options->file);
        vfu::tool::requireDeviceModel (definitionFile, vfu::tool::toJuce (options->device));

        const auto result = vfu::definitions::runDefinitionCommand (
            command, definitionFile, vfu::tool::toJuce (options->device), options->consoleMode);
        vfu::tool::printLine (result.output);

        if (result.exitCode != 0)
            vfu::tool::fail ("The definition document was rejected.", result.exitCode);

        return vfu::tool::exitSuccess;
    };
}

const vfu::tool::CommandRegistration checkDefinitions ({
    "check-definitions",
    "Loads a definition document (the inbuilt one without FILE) and reports whether it is accepted",
    "Loads FILE, or the inbuilt document when no FILE is given, for the device NAME (default Quillbox)\n"
    "in the given mode (console mode off by default), exactly as the app does. Prints a one-line summary\n"
    "and exits 0, or prints the rejection message and exits 1.",
    "",
    [] (CLI::App& app) { return defineDefinitionCommand (app, DefinitionCommand::check); },
});

const vfu::tool::CommandRegistration dumpDefinitions ({
    "dump-definitions",
    "Prints the loaded definition model as JSON",
    "Loads FILE (or the inbuilt document) like check-definitions and prints the model as one JSON object:\n"
    "the updater's fields and every state with its attributes, transitions (poll result code to state\n"
    "name) and instructions. A rejected document prints its message and exits 1.",
    "",
    [] (CLI::App& app) { return defineDefinitionCommand (app, DefinitionCommand::dump); },
});
} // namespace
