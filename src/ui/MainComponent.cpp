#include "MainComponent.h"

MainComponent::MainComponent (const juce::String& deviceNameToUse) : deviceName (deviceNameToUse)
{
    setSize (640, 320);
}

MainComponent::~MainComponent() = default;

void MainComponent::showAboutBox()
{
}

void MainComponent::showPreferences()
{
}

void MainComponent::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xffd0d0d0));
}
