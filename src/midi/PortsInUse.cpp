// Which of the instrument's ports another program holds, from what the openings found.
#include "midi/MIDIPortsSelector.h"

namespace
{
const juce::String autoChoice{ "Auto" };

// The held ports that matter for this choice and are still listed.
juce::StringArray describeHeld (const char* direction, const std::map<juce::String, juce::String>& held,
                                const juce::String& choice, const juce::StringArray& listed)
{
    juce::StringArray lines;
    for (auto& [name, result] : held)
        if ((choice == autoChoice || choice == name) && listed.contains (name))
            lines.add (juce::String (direction) + " [" + name + "] (" + result + ")");
    return lines;
}
} // namespace

void MIDIPortsSelector::noteOpening (bool input, const juce::String& listedName, bool opened,
                                     const vfu::OpenRefusal& refusal)
{
    std::lock_guard<std::mutex> guard (lock);
    auto& held = input ? heldInputs : heldOutputs;

    if (opened)
        held.erase (listedName);
    else if (refusal.heldByAnotherProgram && refusal.port.isNotEmpty())
        held[refusal.port] = refusal.result;
    else if (refusal.port.isNotEmpty())
        held.erase (refusal.port);
}

void MIDIPortsSelector::forgetHeldInputs()
{
    std::lock_guard<std::mutex> guard (lock);
    heldInputs.clear();
}

juce::StringArray MIDIPortsSelector::getPortsInUse()
{
    {
        std::lock_guard<std::mutex> guard (lock);
        if (heldInputs.empty() && heldOutputs.empty())
            return {}; // the usual case: no listing needed
    }

    const auto inputs = midiLayer.getInputNames();
    const auto outputs = midiLayer.getOutputNames();

    std::lock_guard<std::mutex> guard (lock);
    auto lines = describeHeld ("input", heldInputs, inputPortName, inputs);
    lines.addArray (describeHeld ("output", heldOutputs, outputPortName, outputs));
    return lines;
}
