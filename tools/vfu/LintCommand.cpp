// vfu lint: load a definition document the way the app does, then report what the loader lets
// through but makes the definition wrong.
#include "CommandRegistry.h"
#include "DefinitionArguments.h"

#include "core/TextFromBytes.h"
#include "definitions/DefinitionFile.h"
#include "definitions/DefinitionLint.h"
#include "definitions/DefinitionReport.h"
#include "definitions/InbuiltDefinitions.h"

#include <iostream>

namespace
{
constexpr int exitWithWarnings = 4;

struct LintCommandOptions
{
    std::string file;
    std::string device = "Quillbox";
    bool consoleMode = false;
    std::vector<std::string> packages;
    bool json = false;
};

juce::String readDocumentText (const juce::File& file)
{
    juce::MemoryBlock bytes;
    juce::String refusal;
    if (!vfu::definitions::readDocumentFileBytes (file, bytes, refusal))
    {
        vfu::tool::printLine (refusal);
        vfu::tool::fail ("The definition document was rejected.");
    }

    return vfu::textFromBytes (static_cast<const char*> (bytes.getData()), bytes.getSize());
}

int runLint (const LintCommandOptions& options)
{
    const auto deviceName = vfu::tool::toJuce (options.device);
    if (deviceName.isEmpty())
        vfu::tool::failUsage ("--device needs a non-empty device name");

    juce::File definitionFile;
    // The app would fall back to the inbuilt document; a checker asked for a file must not.
    if (!options.file.empty())
        definitionFile = vfu::tool::resolveDefinitionFile (options.file);
    vfu::tool::requireDeviceModel (definitionFile, deviceName);

    vfu::definitions::LintOptions lintOptions;
    for (const auto& path : options.packages)
    {
        const auto package = vfu::tool::resolvePath (vfu::tool::toJuce (path));
        if (!package.exists())
            vfu::tool::failUsage ("No package at " + package.getFullPathName());

        lintOptions.packages.add (package);
    }
    lintOptions.checkImages = !options.packages.empty();

    // First the load exactly as check-definitions does it, with its message on a rejection.
    const auto load = vfu::definitions::runDefinitionCommand (vfu::definitions::DefinitionCommand::check,
                                                              definitionFile, deviceName, options.consoleMode);
    if (load.exitCode != 0)
    {
        vfu::tool::printLine (load.output);
        vfu::tool::fail ("The definition document was rejected.", load.exitCode);
    }

    const auto text =
        definitionFile == juce::File() ? vfu::definitions::getInbuiltDefinitions() : readDocumentText (definitionFile);
    const auto result = vfu::definitions::lintDefinitionText (text, deviceName, options.consoleMode, lintOptions);

    // Only if the file changed between the two reads.
    if (!result.isLoaded())
    {
        vfu::tool::printLine (result.loadError);
        vfu::tool::fail ("The definition document was rejected.");
    }

    for (const auto& rejected : result.rejectedPackages)
        std::cerr << "Package not accepted, not looked in: " << rejected << std::endl;

    const auto sourceName = options.file.empty() ? juce::String ("inbuilt") : vfu::tool::toJuce (options.file);

    for (const auto& warning : result.warnings)
        vfu::tool::printLine (options.json
                                  ? juce::JSON::toString (vfu::definitions::describeLintWarning (warning), true)
                                  : vfu::definitions::formatLintWarning (warning, sourceName));

    return result.warnings.empty() ? vfu::tool::exitSuccess : exitWithWarnings;
}

const vfu::tool::CommandRegistration lint ({
    "lint",
    "Finds what the loader lets through in a definition document: bad targets, unreachable states, ...",
    "Loads FILE, or the inbuilt document when no FILE is given, for the device NAME (default Quillbox)\n"
    "in the given mode exactly as check-definitions does (a rejected document prints its message and\n"
    "exits 1), then prints one warning a line: \"SOURCE:LINE: CODE: State 'NAME', ELEMENT: what is wrong\",\n"
    "where SOURCE is FILE or \"inbuilt\" and LINE the element's line in the document. With --json, one\n"
    "JSON object a line instead: {\"code\", \"state\", \"element\", \"line\", \"message\"}.\n"
    "\n"
    "Codes:\n"
    "  unknown-target           a Button gotoState, GotoState state or own timeoutState names no state\n"
    "  unreachable-state        nothing the engine can take leads to the state\n"
    "  no-way-out               nothing the engine can take leads out of the state\n"
    "  result-never-produced    a PollingState for a result its polling never gives\n"
    "  missing-image            a --package lacks the .syx entry of a firmware SendSysEx\n"
    "  dead-check               a Check whose name the engine does not know (only versionNumber)\n"
    "  unknown-field            a TextField or Button name the panel does not have\n"
    "  duplicate-polling-state  a PollingState shadowed by an earlier one for the same result\n"
    "  timeout-to-self          the state's time-out leads back to the state itself\n"
    "  value-out-of-range       a Wait time or SendSysEx waitTime beyond what the engine keeps (clamped)\n"
    "  cycle-without-pause      GotoStates run in a cycle with no poll, wait or button in it\n"
    "  erase-without-transfer   an erase that no firmware transfer (outside a Check) can follow\n"
    "\n"
    "Images are looked for only in the packages given with --package (files, or folders of .vfw\n"
    "files); packages that fail their check are named on stderr.",
    "  4  the document loads but has warnings\n",
    [] (CLI::App& app)
    {
        auto options = std::make_shared<LintCommandOptions>();
        app.add_option ("FILE", options->file, "The definition document (default: the inbuilt one)");
        app.add_option ("--device", options->device, "The device model to load")->default_str ("Quillbox");
        app.add_flag ("--console-mode", options->consoleMode, "Load the updater meant for console mode");
        vfu::tool::addRepeatableOption (app, "--package", options->packages,
                                        "A package file or folder to look for the firmware images in (repeatable)");
        app.add_flag ("--json", options->json, "One JSON object a warning instead of a line");

        return [options] { return runLint (*options); };
    },
});
} // namespace
