// vfu: checks definition documents, decodes replies, polls and updates simulated instruments,
// and builds and inspects firmware packages, all through the same core library as the app.
#include "CommandRegistry.h"

#include <juce_events/juce_events.h>

#include <iostream>

int main (int argc, char* argv[])
{
    juce::ScopedJuceInitialiser_GUI juceInitialiser;

    juce::ConsoleApplication app;
    app.addVersionCommand ("--version", "vfu 2.2.0");
    app.addHelpCommand ("--help|-h", "Usage: vfu COMMAND [OPTIONS]\n"
                                     "The command-line companion of the Quillbox Firmware Updater.",
                        true);

    for (auto& command : vfu::tool::getCommands())
        app.addCommand (command);

    if (argc < 2)
    {
        app.printCommandList ({ argc, argv });
        return vfu::tool::exitUsageError;
    }

    const juce::ArgumentList args (argc, argv);

    // An unknown command is a usage error.
    auto matches = [&args] (const juce::String& alternatives)
    { return juce::StringArray::fromTokens (alternatives, "|", {}).contains (args[0].text); };

    bool known = matches ("--help|-h|--version");
    for (auto& command : app.getCommands())
        known = known || matches (command.commandOption);

    if (! known)
    {
        std::cerr << "Unknown command: " << args[0].text << " (see vfu --help)" << std::endl;
        return vfu::tool::exitUsageError;
    }

    // The command is the first argument only: "--version" or "--help" later on are a command's own
    // options (make-image --version TEXT), not the built-in commands.
    return app.findAndRunCommand (args, true);
}
