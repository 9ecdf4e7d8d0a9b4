// vfu graph: the loaded state machine as a Graphviz graph, as dot text or drawn by Graphviz.
#include "CommandRegistry.h"
#include "DefinitionArguments.h"

#include "definitions/DefinitionGraph.h"
#include "definitions/InbuiltDefinitions.h"

#include <iostream>

namespace
{
constexpr int exitGraphvizMissing = 3;

struct GraphCommandOptions
{
    std::string file;
    std::string device = "Quillbox";
    bool consoleMode = false;
    std::string format = "dot";
    std::string output;
};

std::unique_ptr<FirmwareUpdater> loadUpdater (const juce::File& definitionFile, const juce::String& deviceName,
                                              bool consoleMode)
{
    vfu::UpdaterEnvironment environment;
    environment.programFile = juce::File(); // no program archive is read

    try
    {
        if (definitionFile == juce::File())
            return std::make_unique<FirmwareUpdater> (vfu::definitions::getInbuiltDefinitions(), deviceName,
                                                      consoleMode, nullptr, juce::Array<juce::File>(), environment);

        return std::make_unique<FirmwareUpdater> (definitionFile, deviceName, consoleMode, nullptr,
                                                  juce::Array<juce::File>(), environment);
    }
    catch (const FirmwareUpdater::FirmwareUpdaterException& e)
    {
        // Standard output carries the graph; the reason goes with the error.
        std::cerr << e.message << std::endl;
        vfu::tool::fail ("The definition document was rejected.");
    }
}

void writeOutput (const juce::MemoryBlock& data, const std::string& outputPath)
{
    if (outputPath.empty())
    {
        std::cout.write (static_cast<const char*> (data.getData()), (std::streamsize) data.getSize());
        std::cout.flush();
        return;
    }

    const auto file = vfu::tool::resolvePath (vfu::tool::toJuce (outputPath));
    if (!file.replaceWithData (data.getData(), data.getSize()))
        vfu::tool::fail ("Cannot write " + file.getFullPathName());
}

int runGraph (const GraphCommandOptions& options)
{
    const auto deviceName = vfu::tool::toJuce (options.device);
    if (deviceName.isEmpty())
        vfu::tool::failUsage ("--device needs a non-empty device name");

    juce::File definitionFile;
    if (!options.file.empty())
        definitionFile = vfu::tool::resolveDefinitionFile (options.file);
    vfu::tool::requireDeviceModel (definitionFile, deviceName);

    // Graphviz is looked for before the work, so a missing one is said at once.
    juce::File dotProgram;
    if (options.format != "dot")
    {
        dotProgram = vfu::definitions::findGraphvizDot();
        if (dotProgram == juce::File())
            vfu::tool::fail ("--format " + vfu::tool::toJuce (options.format) +
                                 " needs Graphviz's dot program, which is not on PATH. Install Graphviz "
                                 "(Debian: apt-get install graphviz), or use --format dot.",
                             exitGraphvizMissing);
    }

    const auto updater = loadUpdater (definitionFile, deviceName, options.consoleMode);
    const auto graph = vfu::definitions::writeDefinitionGraph (*updater);

    if (options.format == "dot")
    {
        writeOutput (juce::MemoryBlock (graph.toRawUTF8(), graph.getNumBytesAsUTF8()), options.output);
        return vfu::tool::exitSuccess;
    }

    juce::MemoryBlock rendered;
    juce::String error;
    if (!vfu::definitions::renderWithGraphviz (dotProgram, graph, vfu::tool::toJuce (options.format), rendered, error))
        vfu::tool::fail (error);

    writeOutput (rendered, options.output);
    return vfu::tool::exitSuccess;
}

const vfu::tool::CommandRegistration graph ({
    "graph",
    "Draws the state machine of a definition document as a Graphviz graph (dot, svg or png)",
    "Loads FILE, or the inbuilt document when no FILE is given, for the device NAME (default Quillbox)\n"
    "in the given mode as check-definitions does (a rejected document prints its message and exits 1),\n"
    "and writes its state machine to OUT (default: standard output). One box per state with its polling\n"
    "mode and its instructions text shortened; the initial state thicker, with an arrow from a start\n"
    "point. Edges: poll results (black), results after a firmware transfer (purple), GotoState (green),\n"
    "buttons by caption (blue), time-outs (grey, dashed); a target naming no state is a red dashed box,\n"
    "a transition the engine never takes is grey and dotted.\n"
    "\n"
    "dot is written by vfu itself; svg and png run Graphviz's dot program (Debian package graphviz).",
    "  3  svg or png asked for, and Graphviz's dot is not installed\n",
    [] (CLI::App& app)
    {
        auto options = std::make_shared<GraphCommandOptions>();
        app.add_option ("FILE", options->file, "The definition document (default: the inbuilt one)");
        app.add_option ("--device", options->device, "The device model to load")->default_str ("Quillbox");
        app.add_flag ("--console-mode", options->consoleMode, "Load the updater meant for console mode");
        app.add_option ("--format", options->format, "dot, svg or png")
            ->default_str ("dot")
            ->check (CLI::IsMember ({ "dot", "svg", "png" }));
        app.add_option ("-o,--output", options->output, "The file to write (default: standard output)");

        return [options] { return runGraph (*options); };
    },
});
} // namespace
