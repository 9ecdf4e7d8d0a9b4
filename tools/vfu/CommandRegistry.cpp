#include "CommandRegistry.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <iostream>
#include <thread>

namespace vfu::tool
{
std::vector<juce::ConsoleApplication::Command>& getCommands()
{
    static std::vector<juce::ConsoleApplication::Command> commands;
    return commands;
}

CommandRegistration::CommandRegistration (juce::ConsoleApplication::Command command)
{
    getCommands().push_back (std::move (command));
}

void failUsage (const juce::String& message)
{
    juce::ConsoleApplication::fail (message, exitUsageError);
    std::abort(); // not reached: fail throws
}

int runWithMessageLoop (std::function<int()> work)
{
    std::atomic<bool> done { false };
    int result = 1;

    // The worker is a juce::Thread so that code polling Thread::currentThreadShouldExit works.
    class Worker final : public juce::Thread
    {
    public:
        Worker (std::function<int()>& w, int& r, std::atomic<bool>& d) : Thread ("vfu worker"), work (w), result (r), done (d) {}

        void run() override
        {
            result = work();
            done = true;
        }

    private:
        std::function<int()>& work;
        int& result;
        std::atomic<bool>& done;
    };

    Worker worker (work, result, done);
    worker.startThread();

    auto* mm = juce::MessageManager::getInstance();
    while (! done)
        mm->runDispatchLoopUntil (10);

    worker.stopThread (10000);
    return result;
}

void printLine (const juce::String& text)
{
    std::cout << text.toStdString() << std::endl;
}

juce::String getOptionValue (const juce::ArgumentList& args, const juce::String& option, const juce::String& fallback)
{
    for (int i = 0; i < args.size(); ++i)
    {
        if (args[i].text == option)
        {
            if (i + 1 >= args.size())
                failUsage ("Missing value after " + option);

            return args[i + 1].text;
        }

        if (args[i].text.startsWith (option + "="))
            return args[i].text.fromFirstOccurrenceOf ("=", false, false);
    }

    return fallback;
}

juce::StringArray getOptionValues (const juce::ArgumentList& args, const juce::String& option)
{
    juce::StringArray values;

    for (int i = 0; i < args.size(); ++i)
    {
        if (args[i].text == option)
        {
            if (i + 1 >= args.size())
                failUsage ("Missing value after " + option);

            values.add (args[++i].text);
        }
        else if (args[i].text.startsWith (option + "="))
        {
            values.add (args[i].text.fromFirstOccurrenceOf ("=", false, false));
        }
    }

    return values;
}

juce::StringArray getPositionalArguments (const juce::ArgumentList& args, const juce::StringArray& optionsWithValues)
{
    juce::StringArray positional;

    // Index 0 is the command itself.
    for (int i = 1; i < args.size(); ++i)
    {
        const auto& text = args[i].text;

        if (optionsWithValues.contains (text))
        {
            ++i;
            continue;
        }

        if (text.startsWith ("--"))
            continue;

        positional.add (text);
    }

    return positional;
}
} // namespace vfu::tool
