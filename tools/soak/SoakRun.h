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

// Counts shared by all engines of the soak.
struct Tally
{
    std::mutex lock;
    int updates = 0, successes = 0, retries = 0, retriesFinished = 0;
    std::map<juce::String, int> faults;
    juce::StringArray failures;

    void fault (const juce::String& kind);
    void fail (const juce::String& text);
};

// One update with faults drawn from `random`, then (after any failure) a retry without faults, with
// every invariant checked. Runs on a worker thread; the message thread must keep dispatching.
void runOneUpdate (const ModelPackages& packages, juce::Random& random, double speed, Tally& tally, int runNumber);

// The program "shuts down": the log is closed after a last line and reopened. Serialised.
void cycleLog (Tally& tally);
} // namespace vfu::soak
