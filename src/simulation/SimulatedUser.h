#pragma once

#include "simulation/SimulatedInstrument.h"

#include <atomic>
#include <memory>

namespace vfu::simulation
{
// The person in front of the instrument: when the updater shows the instructions that ask for a
// restart into the bootloader, the user does it a while later (reaction time in clock milliseconds).
// Wire instructionsShown to the engine's state reports (stateChanged); it may be called on any thread.
class SimulatedUser final
{
public:
    SimulatedUser (SimulatedInstrument& instrument, int reactionMilliseconds);

    // Reacts once each time a state that asks for the bootloader is entered.
    void instructionsShown (const juce::String& stateName);

    // Whether the instructions of that state ask the user of this model to restart into the bootloader:
    // "Idle, device detected" for every model; for Orb 26 also "Idle, bootloader detected" and
    // "Error, device detected".
    static bool asksForBootloader (Model model, const juce::String& stateName);

    void setEnabled (bool shouldReact) { enabled = shouldReact; }
    void setReactionMilliseconds (int milliseconds) { reactionMilliseconds = milliseconds; }

    // Restarts the user has carried out so far.
    int getRestartsMade() const { return restartsMade->load(); }

private:
    SimulatedInstrument& instrument; // owned by the layer, which outlives the user
    std::atomic<bool> enabled{ true };
    std::atomic<int> reactionMilliseconds;
    std::mutex lock;
    juce::String lastState; // under lock
    std::shared_ptr<std::atomic<int>> restartsMade = std::make_shared<std::atomic<int>> (0);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SimulatedUser)
};
} // namespace vfu::simulation
