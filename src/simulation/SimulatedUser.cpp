#include "simulation/SimulatedUser.h"

namespace vfu::simulation
{
SimulatedUser::SimulatedUser (SimulatedInstrument& instrumentToUse, int reaction)
    : instrument (instrumentToUse), reactionMilliseconds (reaction)
{
}

bool SimulatedUser::asksForBootloader (Model model, const juce::String& stateName)
{
    if (stateName == "Idle, device detected")
        return true;

    return model == Model::orb26 && (stateName == "Idle, bootloader detected" || stateName == "Error, device detected");
}

void SimulatedUser::instructionsShown (const juce::String& stateName)
{
    {
        std::lock_guard<std::mutex> guard (lock);
        if (stateName == lastState)
            return;
        lastState = stateName;
    }

    if (!enabled || !asksForBootloader (instrument.getModel(), stateName))
        return;

    auto& target = instrument;
    auto counter = restartsMade;
    instrument.getLayer().callAfter (reactionMilliseconds,
                                     [&target, counter]
                                     {
                                         target.pressBootloaderCombination();
                                         ++*counter;
                                     });
}
} // namespace vfu::simulation
