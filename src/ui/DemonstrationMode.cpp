#include "ui/DemonstrationMode.h"

#include "core/Clock.h"
#include "midi/MIDIPortsSelector.h"
#include "simulation/SimulatedUser.h"
#include "simulation/SimulationSpec.h"

namespace
{
std::unique_ptr<vfu::Clock> createClock (double speed)
{
    if (speed > 1.0)
        return std::make_unique<vfu::ScaledClock> (speed);
    return std::make_unique<vfu::RealClock>();
}
} // namespace

DemonstrationMode::DemonstrationMode (const juce::String& specToUse, double speed)
    : spec (specToUse), clock (createClock (speed))
{
    juce::String error;
    const auto parsed = vfu::simulation::SimulationSpec::parse (spec, error);
    if (!parsed.has_value())
    {
        problem = "--simulate=" + spec + ": " + error;
        return;
    }

    // Ports open through the message thread, as they do on the real MIDI layer.
    simulation = std::make_unique<vfu::simulation::Simulation> (*parsed, 1, *clock, true);
    selector = std::make_unique<MIDIPortsSelector> (simulation->getLayer(), *clock);
    user = std::make_unique<vfu::simulation::SimulatedUser> (simulation->getInstrument(), userReactionMilliseconds);
}

DemonstrationMode::~DemonstrationMode()
{
    // The user acts on the instrument and the selector listens to the layer's ports.
    user = nullptr;
    selector = nullptr;
    simulation = nullptr;
}

vfu::simulation::SimulatedInstrument* DemonstrationMode::getInstrument() const
{
    return simulation != nullptr ? &simulation->getInstrument() : nullptr;
}

juce::String DemonstrationMode::describe() const
{
    if (simulation == nullptr)
        return problem;

    auto& instrument = simulation->getInstrument();
    auto text = "simulated " + instrument.getPortName() + " " +
                (instrument.getMode() == vfu::simulation::Mode::bootloader
                     ? juce::String ("in its bootloader")
                     : "with firmware " + instrument.getInstalledVersion());
    if (clock->getSpeed() > 1.0)
        text << ", clock " << clock->getSpeed() << " times faster";
    return text;
}

vfu::UpdaterEnvironment DemonstrationMode::getEnvironment() const
{
    vfu::UpdaterEnvironment environment;
    environment.portsSelector = selector.get();
    environment.clock = clock.get();
    return environment;
}

void DemonstrationMode::stateShown (const juce::String& stateName)
{
    if (user != nullptr)
        user->instructionsShown (stateName);
}
