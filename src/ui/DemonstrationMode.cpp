#include "DemonstrationMode.h"

#include "../engine/Clock.h"
#include "../midi/MIDIPortsSelector.h"
#include "../midi/VirtualMidiLayer.h"
#include "../simulation/SimulatedInstrument.h"

namespace
{
std::unique_ptr<vfu::Clock> createClock (double speed)
{
    if (speed > 1.0)
        return std::make_unique<vfu::ScaledClock> (speed);
    return std::make_unique<vfu::RealClock>();
}

// MODEL[:VERSION|:bootloader][:panel=B]
bool parseInstrumentSpec (const juce::String& spec, vfu::simulation::InstrumentSettings& settings, juce::String* why)
{
    auto parts = juce::StringArray::fromTokens (spec, ":", "");
    const auto model = vfu::simulation::findModel (parts[0].trim().toLowerCase());
    if (! model.has_value())
    {
        *why = "unknown model '" + parts[0] + "'";
        return false;
    }
    settings.model = *model;

    for (int i = 1; i < parts.size(); ++i)
    {
        const auto part = parts[i].trim();
        if (part == "bootloader")
            settings.startInBootloader = true;
        else if (part.startsWith ("panel="))
            settings.panelStateByte = part.fromFirstOccurrenceOf ("=", false, false).getIntValue();
        else if (i == 1 && part.containsOnly ("0123456789.p") && part.isNotEmpty())
            settings.firmwareVersion = part;
        else
        {
            *why = "cannot read '" + part + "' in " + spec;
            return false;
        }
    }
    return true;
}
} // namespace

DemonstrationMode::DemonstrationMode (const juce::String& specToUse, double speed)
    : spec (specToUse), clock (createClock (speed))
{
    vfu::simulation::InstrumentSettings settings;
    juce::String why;
    if (! parseInstrumentSpec (spec, settings, &why))
    {
        problem = "--simulate: " + why;
        return;
    }

    layer = std::make_unique<vfu::VirtualMidiLayer> (*clock, true);
    selector = std::make_unique<MIDIPortsSelector> (*layer, *clock);
    instrument = &vfu::simulation::SimulatedInstrument::addTo (*layer, settings);
}

DemonstrationMode::~DemonstrationMode()
{
    // The selector listens to the layer's inputs; the layer owns the instrument.
    selector = nullptr;
    instrument = nullptr;
    layer = nullptr;
}

juce::String DemonstrationMode::describe() const
{
    if (instrument == nullptr)
        return problem;

    auto text = "simulated " + instrument->getPortName() + " ("
                + (instrument->getMode() == vfu::simulation::Mode::bootloader ? juce::String ("in its bootloader")
                                                                              : "firmware " + instrument->getInstalledVersion())
                + ")";
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
    if (instrument == nullptr)
        return;

    // "Idle, device detected" asks the user to restart the instrument into its bootloader.
    if (stateName == "Idle, device detected")
        instrument->pressBootloaderCombination (userReactionMilliseconds);
}
