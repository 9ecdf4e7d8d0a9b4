#include "engine/RecordedPorts.h"

namespace vfu
{
RecordedPorts::RecordedPorts (MIDIPortsSelector& recorded, std::unique_ptr<juce::OutputStream> output,
                              const juce::String& program, const juce::String& model)
    : recorder (recorded.getMidiLayer(), recorded.getClock(), std::move (output), program, model),
      selector (recorder, recorded.getClock())
{
}

std::unique_ptr<RecordedPorts> RecordedPorts::wrap (UpdaterEnvironment& environment, const juce::File& file,
                                                    const juce::String& program, const juce::String& model,
                                                    juce::String& problem)
{
    auto output = RecordingMidiLayer::createFile (file, problem);
    if (output == nullptr)
        return nullptr;

    auto& recorded =
        environment.portsSelector != nullptr ? *environment.portsSelector : MIDIPortsSelector::getProgramWideInstance();
    auto ports = std::make_unique<RecordedPorts> (recorded, std::move (output), program, model);
    environment.portsSelector = &ports->getSelector();
    return ports;
}
} // namespace vfu
