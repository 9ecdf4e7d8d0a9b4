#pragma once

#include "simulation/SimulatedInstrument.h"

#include <memory>
#include <optional>

namespace vfu
{
class Clock;
}

namespace vfu::simulation
{
// A simulated instrument written as MODEL[:VERSION|:bootloader][:panel=B], for example "quillbox",
// "lumostrel:1.0.7", "orb26:bootloader" or "orb26:1.1.0p1:panel=1". MODEL is quillbox, lumostrel or
// orb26 (any case); VERSION defaults to the model's default firmware (2.1.0 for Quillbox, 1.0.9 for the
// others); B is the Orb 26 panel state byte (0 to 5).
struct SimulationSpec
{
    Model model = Model::quillbox;
    juce::String version; // the firmware installed (also while in the bootloader)
    bool bootloader = false;
    int panelStateByte = 0;

    // The parsed simulation spec, or none with the reason in `error`.
    static std::optional<SimulationSpec> parse (const juce::String& text, juce::String& error);

    InstrumentSettings toSettings() const;
};

// A virtual MIDI layer holding `silentPorts` port pairs that never answer ("Silent port 1", ...)
// followed by one simulated instrument.
class Simulation final
{
public:
    Simulation (const SimulationSpec& spec, int silentPorts, Clock& clock, bool openOnMessageThread = false);
    Simulation (const InstrumentSettings& settings, int silentPorts, Clock& clock, bool openOnMessageThread = false);

    VirtualMidiLayer& getLayer() const noexcept { return *layer; }
    SimulatedInstrument& getInstrument() const noexcept { return *instrument; }

    static juce::String getSilentPortName (int number) { return "Silent port " + juce::String (number); }

private:
    std::unique_ptr<VirtualMidiLayer> layer;
    SimulatedInstrument* instrument = nullptr; // owned by the layer

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Simulation)
};
} // namespace vfu::simulation
