// vfu check-definitions / dump-definitions: load a definition document the way the app does and
// report the outcome or the loaded model.
#include "CommandRegistry.h"

#include "definitions/DefinitionReport.h"

namespace
{
using vfu::definitions::DefinitionCommand;

const char* const definitionArguments = "[FILE] [--device NAME] [--console-mode]";

void runDefinitionCommand (DefinitionCommand command, const juce::ArgumentList& args)
{
    const auto positional = vfu::tool::getPositionalArguments (args, { "--device" });

    if (positional.size() > 1)
        vfu::tool::failUsage ("Expected at most one document file, got: " + positional.joinIntoString (" "));

    for (int i = 1; i < args.size(); ++i)
        if (args[i].isLongOption() && !args[i].isLongOption ("device") && !args[i].isLongOption ("console-mode"))
            vfu::tool::failUsage ("Unknown option: " + args[i].text);

    const auto deviceName = vfu::tool::getOptionValue (args, "--device", "Quillbox");
    const bool consoleMode = args.containsOption ("--console-mode");

    if (deviceName.isEmpty())
        vfu::tool::failUsage ("--device needs a non-empty device name");

    juce::File definitionFile;

    if (!positional.isEmpty())
    {
        definitionFile = juce::File::getCurrentWorkingDirectory().getChildFile (positional[0]);

        // The app would fall back to the inbuilt document; a checker asked for a file must not.
        if (!definitionFile.exists())
            vfu::tool::failUsage ("No such file: " + definitionFile.getFullPathName());
    }

    const auto result = vfu::definitions::runDefinitionCommand (command, definitionFile, deviceName, consoleMode);
    vfu::tool::printLine (result.output);

    if (result.exitCode != 0)
        juce::ConsoleApplication::fail ("The definition document was rejected.", result.exitCode);
}

const vfu::tool::CommandRegistration checkDefinitions ({
    "check-definitions",
    juce::String ("check-definitions ") + definitionArguments,
    "Loads a definition document (the inbuilt one without FILE) and reports whether it is accepted",
    "Loads FILE, or the inbuilt document when no FILE is given, for the device NAME (default Quillbox) "
    "in the given mode (console mode off by default), exactly as the app does. Prints a one-line summary "
    "and exits 0, or prints the rejection message and exits 1.",
    [] (const juce::ArgumentList& args) { runDefinitionCommand (DefinitionCommand::check, args); },
});

const vfu::tool::CommandRegistration dumpDefinitions ({
    "dump-definitions",
    juce::String ("dump-definitions ") + definitionArguments,
    "Prints the loaded definition model as JSON",
    "Loads FILE (or the inbuilt document) like check-definitions and prints the model as one JSON object: "
    "the updater's fields and every state with its attributes, transitions (poll result code to state "
    "name) and instructions. A rejected document prints its message and exits 1.",
    [] (const juce::ArgumentList& args) { runDefinitionCommand (DefinitionCommand::dump, args); },
});
} // namespace
