#pragma once

#include "simulation/SimulatedInstrument.h"

#include <juce_core/juce_core.h>

#include <map>
#include <mutex>

namespace vfu::soak
{
// The packages of one model: a good one and one whose image is corrupt, at the same version.
struct ModelPackages
{
    simulation::Model model;
    juce::String version;
    juce::File good, corrupt;
    juce::MemoryBlock firstImage; // the image the instrument holds after a good update (the last one sent)
    juce::String successText;
};

// Invariant failures of one run (or of the soak's own checks), from any thread.
struct FailureList
{
    void fail (const juce::String& text);
    juce::StringArray get() const;

private:
    mutable std::mutex lock;
    juce::StringArray items;
};

// Counts shared by all engines of the soak.
struct Tally
{
    std::mutex lock;
    int updates = 0, successes = 0, retries = 0, retriesFinished = 0;
    std::map<juce::String, int> faults;

    void fault (const juce::String& kind);
};

// What one run left behind: its failures and the longest lag of its clock's wake-ups.
struct RunResult
{
    juce::StringArray failures;
    juce::int64 longestLagMilliseconds = 0;
};

// One update with faults drawn from `random`, then (after any failure) a retry without faults, with
// every invariant checked, on a clock of its own `speed` times faster than real time whose wake-ups
// are measured (and, with starveRealMilliseconds, each delayed that much). Runs on a worker thread;
// the message thread must keep dispatching.
RunResult runOneUpdate (const ModelPackages& packages, juce::Random& random, double speed, Tally& tally, int runNumber,
                        double starveRealMilliseconds = 0.0);

// The lines of the closed log file, empty ones left out.
juce::StringArray readLogLines();

// The program "shuts down": the log is closed after a last line and reopened. Serialised.
void cycleLog (FailureList& failures);
} // namespace vfu::soak
