#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "core/Clock.h"
#include "engine/UpdaterEnvironment.h"
#include "midi/MIDIPortsSelector.h"
#include "midi/MidiLayer.h"
#include "ui/MainComponent.h"

#include <memory>

namespace vfu::test
{
// Port lists without any port that opens: every poll of the engine finds nothing, which keeps
// it in "Idle, no device" while a test looks at the panel.
class FixedPortsMidiLayer final : public vfu::MidiLayer
{
public:
    FixedPortsMidiLayer (juce::StringArray inputs = {}, juce::StringArray outputs = {})
        : inputNames (std::move (inputs)), outputNames (std::move (outputs))
    {
    }

    juce::StringArray getInputNames() override { return inputNames; }
    juce::StringArray getOutputNames() override { return outputNames; }
    std::unique_ptr<vfu::MidiInputConnection> openInput (int, vfu::MidiReceiver&) override { return {}; }
    std::unique_ptr<vfu::MidiOutputConnection> openOutput (int) override { return {}; }

    juce::StringArray inputNames, outputNames;
};

// Writes a firmware package "quillbox-fw-<version>.vfw" (one image and its checksum list).
juce::File writeQuillboxPackage (const juce::File& folder, const juce::String& version);

// A test folder that stands in for the executable's folder, holding the given packages.
juce::File createExecutableFolder (const juce::StringArray& packageVersions);

// Everything a panel under test needs, built in the order it must be released in reverse.
struct PanelFixture
{
    explicit PanelFixture (juce::StringArray inputs = {}, juce::StringArray outputs = {});
    ~PanelFixture();

    // Builds the panel; start-up failures are recorded instead of shown.
    MainComponent& createPanel (const juce::File& executableFolder);

    vfu::ScaledClock clock{ 20.0 };
    FixedPortsMidiLayer layer;
    MIDIPortsSelector selector;
    juce::StringArray failureTitles, failureMessages;
    int quitRequests = 0;
    std::unique_ptr<MainComponent> panel;
};

// The child of the panel with that component name (the first one for "new label").
template <typename ComponentType> ComponentType* findChildByName (juce::Component& parent, const juce::String& name)
{
    for (auto* child : parent.getChildren())
        if (child->getName() == name)
            return dynamic_cast<ComponentType*> (child);
    return nullptr;
}
} // namespace vfu::test
