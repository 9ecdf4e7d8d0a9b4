#pragma once

#include "engine/UpdaterEnvironment.h"
#include "midi/MIDIPortsSelector.h"
#include "midi/RecordingMidiLayer.h"

#include <memory>

namespace vfu
{
// --record FILE, as the app and vfu update wire it: the environment's port selector (the
// program-wide one when it names none) seen through a RecordingMidiLayer, with a selector of its
// own over that layer and the same clock. Must outlive the updater that uses the environment.
class RecordedPorts
{
public:
    // Opens FILE (replacing it) and points `environment` at the recorded selector; null with the
    // reason in `problem` (environment untouched) when FILE cannot be written. `program` names the
    // program and its version in the recording, `model` the device model.
    static std::unique_ptr<RecordedPorts> wrap (UpdaterEnvironment& environment, const juce::File& file,
                                                const juce::String& program, const juce::String& model,
                                                juce::String& problem);

    // Records what goes through `recorded`'s layer into `output`; wrap() is the usual way in.
    RecordedPorts (MIDIPortsSelector& recorded, std::unique_ptr<juce::OutputStream> output, const juce::String& program,
                   const juce::String& model);

    MIDIPortsSelector& getSelector() noexcept { return selector; }

private:
    // In this order: the selector listens to the recorder's ports, so it goes first.
    RecordingMidiLayer recorder;
    MIDIPortsSelector selector;
};
} // namespace vfu
