#include "simulation/SimulationSpec.h"

namespace vfu::simulation
{
std::optional<SimulationSpec> SimulationSpec::parse (const juce::String& text, juce::String& error)
{
    auto parts = juce::StringArray::fromTokens (text.trim(), ":", "");

    SimulationSpec spec;
    const auto model = findModel (parts[0].trim());
    if (!model)
    {
        error = "Unknown model " + parts[0].trim().quoted() + " (expected quillbox, lumostrel or orb26)";
        return {};
    }

    spec.model = *model;
    bool versionGiven = false, panelGiven = false;

    for (int i = 1; i < parts.size(); ++i)
    {
        const auto part = parts[i].trim();

        if (part.equalsIgnoreCase ("bootloader") && !spec.bootloader)
        {
            spec.bootloader = true;
        }
        else if (part.startsWithIgnoreCase ("panel=") && !panelGiven)
        {
            const auto value = part.fromFirstOccurrenceOf ("=", false, false);
            if (value.isEmpty() || !value.containsOnly ("0123456789") || value.getIntValue() > 5)
            {
                error = "Bad panel state " + value.quoted() + " (expected 0 to 5)";
                return {};
            }
            if (spec.model != Model::orb26)
            {
                error = "Only orb26 has a panel";
                return {};
            }
            spec.panelStateByte = value.getIntValue();
            panelGiven = true;
        }
        else if (!versionGiven && part.isNotEmpty() && juce::CharacterFunctions::isDigit (part[0]))
        {
            juce::String why;
            if (!encodeVersion (spec.model, part, &why))
            {
                error = "Bad version for " + juce::String (getModelInfo (spec.model).specName) + ": " + why;
                return {};
            }
            spec.version = part;
            versionGiven = true;
        }
        else
        {
            error = "Unexpected " + part.quoted() + " in " + text.quoted() +
                    " (expected MODEL[:VERSION|:bootloader][:panel=B])";
            return {};
        }
    }

    if (spec.version.isEmpty())
        spec.version = getModelInfo (spec.model).defaultVersion;

    return spec;
}

InstrumentSettings SimulationSpec::toSettings() const
{
    InstrumentSettings settings;
    settings.model = model;
    settings.firmwareVersion = version;
    settings.startInBootloader = bootloader;
    settings.panelStateByte = panelStateByte;
    return settings;
}

Simulation::Simulation (const SimulationSpec& spec, int silentPorts, Clock& clock, bool openOnMessageThread)
    : Simulation (spec.toSettings(), silentPorts, clock, openOnMessageThread)
{
}

Simulation::Simulation (const InstrumentSettings& settings, int silentPorts, Clock& clock, bool openOnMessageThread)
    : layer (std::make_unique<VirtualMidiLayer> (clock, openOnMessageThread))
{
    for (int i = 1; i <= silentPorts; ++i)
        layer->addPorts (getSilentPortName (i));

    instrument = &SimulatedInstrument::addTo (*layer, settings);
}
} // namespace vfu::simulation
