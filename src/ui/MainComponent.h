#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The main panel: the window's content. This first version holds what the window shell needs;
// the engine, its reports and the children follow with the panel itself.
class MainComponent final : public juce::Component
{
public:
    explicit MainComponent (const juce::String& deviceName);
    ~MainComponent() override;

    void showAboutBox();
    void showPreferences();

    void paint (juce::Graphics& g) override;

private:
    juce::String deviceName;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};
