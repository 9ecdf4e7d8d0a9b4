#pragma once

#include <juce_core/juce_core.h>

#include <functional>
#include <vector>

namespace vfu::tool
{
// Every command of vfu, in the order in which the command files registered them.
std::vector<juce::ConsoleApplication::Command>& getCommands();

// Registers a command from a static object in the command's own file.
struct CommandRegistration
{
    explicit CommandRegistration (juce::ConsoleApplication::Command command);
};

// Exit codes: 0 success, 1 a failed check or run, 2 a usage error.
constexpr int exitUsageError = 2;

// Throws the usage error that ConsoleApplication turns into exit code 2 with the message on stderr.
[[noreturn]] void failUsage (const juce::String& message);

// Runs work on a worker thread while this (the message) thread runs the message loop, so that
// code which opens devices or reports on the message thread works from a console command.
// Returns work's result.
int runWithMessageLoop (std::function<int()> work);

// Writes a line to standard output and flushes it.
void printLine (const juce::String& text);

// The value after an option such as "--device NAME", or the fallback when the option is absent.
// A present option without a value is a usage error.
juce::String getOptionValue (const juce::ArgumentList& args, const juce::String& option, const juce::String& fallback);

// Every value of an option that may repeat ("--package A --package B").
juce::StringArray getOptionValues (const juce::ArgumentList& args, const juce::String& option);

// The arguments after the command that are neither options nor option values; `optionsWithValues`
// names the options that take a value ("--device|--mode").
juce::StringArray getPositionalArguments (const juce::ArgumentList& args, const juce::StringArray& optionsWithValues);
} // namespace vfu::tool
