#pragma once

#include <juce_core/juce_core.h>

namespace vfu::test
{
// One run of the vfu program built beside the tests.
struct VfuRun
{
    int exitCode = -1;   // -1 when it could not be started
    juce::String output; // standard output and standard error together, as printed
    double seconds = 0.0;
};

// Runs vfu with these arguments and waits for it to end, at most the time limit given.
// With standardOutputOnly, output holds standard output alone (standard error goes to the test's own).
inline VfuRun runVfu (const juce::StringArray& arguments, int timeoutMilliseconds = 120000,
                      bool standardOutputOnly = false)
{
    juce::StringArray command{ VFU_TOOL_FILE };
    command.addArray (arguments);

    VfuRun run;
    const auto start = juce::Time::getMillisecondCounterHiRes();
    juce::ChildProcess process;
    const int streams = standardOutputOnly ? juce::ChildProcess::wantStdOut
                                           : juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr;
    if (!process.start (command, streams))
        return run;

    run.output = process.readAllProcessOutput();
    process.waitForProcessToFinish (timeoutMilliseconds);
    run.exitCode = (int) process.getExitCode();
    run.seconds = (juce::Time::getMillisecondCounterHiRes() - start) / 1000.0;
    return run;
}
} // namespace vfu::test
