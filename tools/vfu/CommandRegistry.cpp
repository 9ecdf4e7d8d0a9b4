#include "CommandRegistry.h"
#include "ProgramVersion.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <algorithm>
#include <map>

#if JUCE_LINUX
namespace juce
{
// JUCE's own step of its message loop (juce_MessageManager.cpp declares it the same way): dispatches
// one message, waiting for it when asked to. Its public loops wait in steps of 1 ms instead.
bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
} // namespace juce
#endif

namespace vfu::tool
{
std::vector<Command>& getCommands()
{
    static std::vector<Command> commands;
    return commands;
}

CommandRegistration::CommandRegistration (Command command)
{
    getCommands().push_back (std::move (command));
}

void failUsage (const juce::String& message)
{
    throw UsageError (message.toStdString());
}

void fail (const juce::String& message, int exitCode)
{
    throw CommandFailure (message, exitCode);
}

namespace
{
std::vector<CLI::Option*>& getRequiredOptions()
{
    static std::vector<CLI::Option*> options;
    return options;
}

// The first required option of the command that was not given, if any.
CLI::Option* findMissingOption (CLI::App& command)
{
    for (auto* option : command.get_options())
        if (option->count() == 0 &&
            std::find (getRequiredOptions().begin(), getRequiredOptions().end(), option) != getRequiredOptions().end())
            return option;
    return nullptr;
}

const char* const sharedExitCodes = "Exit codes:\n"
                                    "  0  success\n"
                                    "  1  a failed check or run\n"
                                    "  2  a usage error (unknown option, missing or bad value)\n";

// The one form of a usage error, wherever it is found: what is wrong, then where the help is.
int reportUsageError (const std::string& message, const std::string& commandName)
{
    std::cerr << message << "\n(see vfu " << (commandName.empty() ? "" : commandName + " ") << "--help)" << std::endl;
    return exitUsageError;
}

// CLI11's "The following argument(s) was/were not expected: A B", in vfu's words.
std::string describeExtraArguments (const CLI::ParseError& error)
{
    const std::string text = error.what();
    const auto colon = text.find (": ");
    const auto words = colon == std::string::npos ? text : text.substr (colon + 2);
    return (words.rfind ("-", 0) == 0 ? "unknown option " : "unexpected argument ") + words;
}

// Help and --version keep CLI11's output and exit 0; every error is reported as vfu reports usage
// errors, naming the command being parsed.
int exitForParseError (CLI::App& app, const CLI::ParseError& error)
{
    if (error.get_exit_code() == 0)
        return app.exit (error) == 0 ? exitSuccess : exitUsageError;

    const auto parsed = app.get_subcommands();
    const auto commandName = parsed.empty() ? std::string() : parsed.front()->get_name();

    if (dynamic_cast<const CLI::ExtrasError*> (&error) != nullptr)
        return reportUsageError (describeExtraArguments (error), commandName);
    if (parsed.empty() && dynamic_cast<const CLI::RequiredError*> (&error) != nullptr)
        return reportUsageError ("a command is required", {});
    return reportUsageError (error.what(), commandName);
}

bool isTopLevelOption (const std::string& word)
{
    return word == "-h" || word == "--help" || word == "--version" || word.rfind ("--version=", 0) == 0;
}
} // namespace

CLI::Option* required (CLI::Option* option)
{
    getRequiredOptions().push_back (option);
    return option->description (option->get_description() + " (required)");
}

int runCommandLine (int argc, char* argv[])
{
    CLI::App app ("The command-line companion of the Quillbox Firmware Updater.", "vfu");
    app.set_version_flag ("--version", programVersion);
    app.require_subcommand (1);
    app.footer (std::string ("\nRun \"vfu COMMAND --help\" for a command's options.\n\n") + sharedExitCodes);

    std::map<CLI::App*, std::function<int()>> actions;

    for (auto& command : getCommands())
    {
        auto* sub = app.add_subcommand (command.name, command.summary);
        sub->footer ((command.details.empty() ? std::string() : "\n" + command.details + "\n") + "\n" +
                     sharedExitCodes + command.exitCodes);
        actions[sub] = command.define (*sub);
    }

    // A first word that is neither an option nor a command is a mistyped command.
    const auto isCommand = [] (const std::string& word)
    {
        const auto& commands = getCommands();
        return std::any_of (commands.begin(), commands.end(), [&word] (auto& c) { return c.name == word; });
    };

    if (argc > 1 && argv[1][0] != '-' && !isCommand (argv[1]))
        return reportUsageError (std::string ("Unknown command: ") + argv[1], {});

    // CLI11 would first complain that no command was given.
    if (argc > 1 && argv[1][0] == '-' && !isTopLevelOption (argv[1]))
        return reportUsageError (std::string ("unknown option ") + argv[1], {});

    try
    {
        app.parse (argc, argv);
    }
    catch (const CLI::ParseError& error)
    {
        return exitForParseError (app, error);
    }

    for (auto* sub : app.get_subcommands())
    {
        try
        {
            if (auto* missing = findMissingOption (*sub))
                failUsage (missing->get_name() + " is required");

            return actions.at (sub)();
        }
        catch (const UsageError& error)
        {
            return reportUsageError (error.what(), sub->get_name());
        }
        catch (const CommandFailure& failure)
        {
            std::cerr << failure.what() << std::endl;
            return failure.exitCode;
        }
    }

    return exitUsageError;
}

int runWithMessageLoop (std::function<int()> work)
{
    std::atomic<bool> done{ false };
    int result = 1;

    // The worker is a juce::Thread so that code polling Thread::currentThreadShouldExit works.
    class Worker final : public juce::Thread
    {
    public:
        Worker (std::function<int()>& w, int& r, std::atomic<bool>& d)
            : Thread ("vfu worker"), work (w), result (r), done (d)
        {
        }

        void run() override
        {
            result = work();
            done = true;
            juce::MessageManager::callAsync ([] {}); // wakes the loop below
        }

    private:
        std::function<int()>& work;
        int& result;
        std::atomic<bool>& done;
    };

    Worker worker (work, result, done);
    worker.startThread();

    auto* mm = juce::MessageManager::getInstance();
#if JUCE_LINUX
    // Sleeps until a message comes (the worker's last one among them), rather than waking every
    // millisecond as runDispatchLoopUntil does: an idle `vfu update` polling for an instrument
    // spent most of its time there.
    juce::ignoreUnused (mm);
    while (!done)
        juce::dispatchNextMessageOnSystemQueue (false);
#else
    while (!done)
        mm->runDispatchLoopUntil (10);
#endif

    worker.stopThread (10000);
    return result;
}

CLI::Option* addRepeatableOption (CLI::App& app, const std::string& name, std::vector<std::string>& values,
                                  const std::string& description)
{
    // One value an occurrence, so that a repeated option never swallows the positional arguments.
    return app.add_option (name, values, description)->allow_extra_args (false);
}

namespace
{
// A bound as people write it: 10000 rather than 1e+04.
std::string formatBound (double value)
{
    if (std::floor (value) == value && std::abs (value) < 1.0e15)
        return std::to_string ((long long) value);

    std::ostringstream text;
    text << value;
    return text.str();
}

CLI::Option* addRangeOption (CLI::App& app, const std::string& name, std::string& value, const std::string& description,
                             bool whole, double minimum, double maximum)
{
    const auto range = formatBound (minimum) + " to " + formatBound (maximum);

    // An empty description: the type name below says it all.
    CLI::Validator check (
        [whole, minimum, maximum, range] (std::string& input) -> std::string
        {
            const char* start = input.c_str();
            char* end = nullptr;
            errno = 0;
            const double number = whole ? (double) std::strtoll (start, &end, 10) : std::strtod (start, &end);
            // Plain decimals only: no sign, exponent, hexadecimal or spaces, which strtod would take.
            const bool plain = input.find_first_not_of (whole ? "0123456789" : "0123456789.") == std::string::npos;
            const bool isNumber =
                plain && !input.empty() && end == start + input.size() && errno == 0 && std::isfinite (number);
            if (isNumber && number >= minimum && number <= maximum)
                return {};
            return std::string (whole ? "takes a whole number" : "takes a number") + " from " + range + ", not \"" +
                   input + "\"";
        },
        std::string());

    return app.add_option (name, value, description)
        ->type_name (std::string (whole ? "INT" : "FLOAT") + " in [" + formatBound (minimum) + " - " +
                     formatBound (maximum) + "]")
        ->check (check);
}
} // namespace

CLI::Option* addNumberOption (CLI::App& app, const std::string& name, std::string& value,
                              const std::string& description, double minimum, double maximum)
{
    return addRangeOption (app, name, value, description, false, minimum, maximum);
}

CLI::Option* addWholeNumberOption (CLI::App& app, const std::string& name, std::string& value,
                                   const std::string& description, long long minimum, long long maximum)
{
    return addRangeOption (app, name, value, description, true, (double) minimum, (double) maximum);
}

double readNumber (const std::string& text)
{
    return std::strtod (text.c_str(), nullptr);
}

void printLine (const juce::String& text)
{
    std::cout << text.toStdString() << std::endl;
}

juce::File resolvePath (const juce::String& path)
{
    return juce::File::getCurrentWorkingDirectory().getChildFile (path);
}
} // namespace vfu::tool
