#pragma once

#include <juce_core/juce_core.h>

#include "engine/UpdaterEnvironment.h"

#include <memory>

class MIDIPortsSelector;

namespace vfu
{
class Clock;
namespace simulation
{
class Simulation;
class SimulatedInstrument;
class SimulatedUser;
} // namespace simulation
} // namespace vfu

// The app without an instrument: a simulated instrument on the virtual MIDI layer (after one silent
// port pair, so that Advanced Mode has ports to choose from), and a simulated user who follows the
// instructions on the screen, so that a whole update can be watched. The panel reports each state it
// shows; the user restarts the instrument into its bootloader a few seconds after being asked to.
class DemonstrationMode final
{
public:
    // spec: MODEL[:VERSION|:bootloader][:panel=B], e.g. "quillbox:2.1.0"; speed: clock speed-up.
    DemonstrationMode (const juce::String& spec, double speed);
    ~DemonstrationMode();

    bool isValid() const noexcept { return simulation != nullptr; }
    const juce::String& getProblem() const noexcept { return problem; }
    juce::String describe() const;

    // The port selector and clock for the panel's engine; the program file stays the app's own.
    vfu::UpdaterEnvironment getEnvironment() const;

    // The simulated user reads the screen: called with each state the panel enters.
    void stateShown (const juce::String& stateName);

    vfu::simulation::SimulatedInstrument* getInstrument() const;

    // How long the simulated user takes to act on an instruction, in clock milliseconds.
    static constexpr int userReactionMilliseconds = 3000;

private:
    juce::String spec;
    juce::String problem;
    std::unique_ptr<vfu::Clock> clock;
    std::unique_ptr<vfu::simulation::Simulation> simulation;
    std::unique_ptr<MIDIPortsSelector> selector;
    std::unique_ptr<vfu::simulation::SimulatedUser> user;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DemonstrationMode)
};
