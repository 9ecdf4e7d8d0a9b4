#include "ui/LaunchOptions.h"

LaunchOptions LaunchOptions::parse (const juce::StringArray& arguments)
{
    LaunchOptions options;

    const auto valueAfter = [&] (int& index, const juce::String& name) -> juce::String
    {
        if (index + 1 < arguments.size())
            return arguments[++index];

        options.problems.add (name + " needs a value");
        return {};
    };

    for (int i = 0; i < arguments.size(); ++i)
    {
        const auto& argument = arguments[i];

        if (argument == "--simulate")
        {
            options.simulate = true;
        }
        else if (argument.startsWith ("--simulate="))
        {
            options.simulate = true;
            const auto spec = argument.fromFirstOccurrenceOf ("=", false, false).trim();
            if (spec.isNotEmpty())
                options.simulationSpec = spec;
        }
        else if (argument == "--speed")
        {
            const auto value = valueAfter (i, argument);
            const auto speed = value.getDoubleValue();
            if (speed >= 1.0 && speed <= 1000.0)
                options.speed = speed;
            else if (value.isNotEmpty())
                options.problems.add ("--speed wants a factor from 1 to 1000, not " + value);
        }
        else if (argument == "--quit-after")
        {
            const auto value = valueAfter (i, argument);
            if (value.getDoubleValue() > 0.0)
                options.quitAfterSeconds = value.getDoubleValue();
            else if (value.isNotEmpty())
                options.problems.add ("--quit-after wants a number of seconds, not " + value);
        }
        else if (argument == "--exit-when-done")
        {
            options.exitWhenDone = true;
        }
        else if (argument == "--screenshot")
        {
            const auto value = valueAfter (i, argument);
            if (value.isNotEmpty())
                options.screenshotFile = juce::File::getCurrentWorkingDirectory().getChildFile (value);
        }
        else if (argument == "--instance-lock")
        {
            // The name becomes part of a file name in the computer's temporary folder.
            const auto value = valueAfter (i, argument);
            if (value.isNotEmpty() &&
                value.containsOnly ("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_.") &&
                !value.startsWith ("."))
                options.instanceLockName = value;
            else if (value.isNotEmpty())
                options.problems.add ("--instance-lock wants a name of letters, digits, '-', '_' and '.', not " +
                                      value);
        }
        else if (argument == "--record")
        {
            const auto value = valueAfter (i, argument);
            if (value.isNotEmpty())
                options.recordingFile = juce::File::getCurrentWorkingDirectory().getChildFile (value);
        }
        else if (argument.isNotEmpty())
        {
            options.problems.add ("unknown switch " + argument);
        }
    }

    return options;
}
