#pragma once

#include <juce_core/juce_core.h>

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vfu::tool
{
// Exit codes shared by every command: 0 success, 1 a failed check or run, 2 a usage error.
constexpr int exitSuccess = 0;
constexpr int exitFailure = 1;
constexpr int exitUsageError = 2;

// A vfu command on CLI11. `define` adds the command's options and arguments to its subcommand
// (binding them to variables it owns, e.g. in a shared_ptr) and returns the action that runs once
// the command line has been parsed; the action's result is the exit code.
struct Command
{
    std::string name;
    std::string summary;   // one line, for "vfu --help" and the top of "vfu NAME --help"
    std::string details;   // what the command does and prints, below the options in "vfu NAME --help"
    std::string exitCodes; // exit codes beyond the shared 0/1/2, one "  N  meaning" a line
    std::function<std::function<int()> (CLI::App&)> define;
};

// Every command, in the order in which the command files registered them.
std::vector<Command>& getCommands();

// Registers a command from a static object in the command's own file.
struct CommandRegistration
{
    explicit CommandRegistration (Command command);
};

// Thrown by an action for a usage error found after parsing (a missing file, a value out of range):
// the message goes to stderr and vfu exits 2.
struct UsageError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

// Thrown by an action that fails: the message goes to stderr and vfu exits with `exitCode`.
struct CommandFailure : std::runtime_error
{
    CommandFailure (const juce::String& message, int code = exitFailure)
        : std::runtime_error (message.toStdString()), exitCode (code)
    {
    }
    int exitCode;
};

[[noreturn]] void failUsage (const juce::String& message);
[[noreturn]] void fail (const juce::String& message, int exitCode = exitFailure);

// Parses argv and runs the chosen command; returns the process's exit code.
int runCommandLine (int argc, char* argv[]);

// Runs work on a worker thread while this (the message) thread runs the message loop, so that
// code which opens devices or reports on the message thread works from a console command.
// Returns work's result.
int runWithMessageLoop (std::function<int()> work);

// Marks an option or argument as required. CLI11's own check runs before its check for unknown
// options, so "vfu run --bogus" would complain of a missing --simulate instead of naming --bogus:
// vfu checks these after parsing instead. Returns the option.
CLI::Option* required (CLI::Option* option);

// An option that may be given more than once ("--package A --package B"), one value each time.
CLI::Option* addRepeatableOption (CLI::App& app, const std::string& name, std::vector<std::string>& values,
                                  const std::string& description);

// An option that takes a number from `minimum` to `maximum` in plain decimals ("0.5", "600"), kept
// as its text for the command to read with readNumber: the help shows the kind and the range
// ("--speed FLOAT in [0.01 - 10000]"), and CLI11 rejects anything else before the command runs,
// as a usage error that names the option ("--speed: takes a number from 0.01 to 10000, not \"fast\"").
// The command need not check the value again.
CLI::Option* addNumberOption (CLI::App& app, const std::string& name, std::string& value,
                              const std::string& description, double minimum, double maximum);

// The same for a whole number ("--times INT in [1 - 999999]").
CLI::Option* addWholeNumberOption (CLI::App& app, const std::string& name, std::string& value,
                                   const std::string& description, long long minimum, long long maximum);

// The value of a number option's text that addNumberOption or addWholeNumberOption has checked.
double readNumber (const std::string& text);

// Writes a line to standard output and flushes it.
void printLine (const juce::String& text);

// A path given on the command line, relative to the working directory.
juce::File resolvePath (const juce::String& path);

inline juce::String toJuce (const std::string& text)
{
    return juce::String::fromUTF8 (text.c_str());
}
} // namespace vfu::tool
