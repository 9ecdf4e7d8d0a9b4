#pragma once

#include <juce_core/juce_core.h>

// The engine's only path to the user interface. The engine makes every report on the message
// thread and waits for it to return, so reports arrive in the order they were made.
class FirmwareUpdaterCallback
{
public:
    virtual ~FirmwareUpdaterCallback() = default;

    virtual void stateChanged (juce::String previousState, juce::String newState) = 0;
    virtual void textFieldChanged (juce::String name, juce::String text, bool visible) = 0;
    virtual void buttonChanged (juce::String name, juce::String text, bool enabled) = 0;
    virtual void printMessage (juce::String text, bool flag) = 0;
    virtual void progressChanged (double fraction) = 0;

    // A warning to show after the instructions (the instructions themselves stay as the definition
    // gives them), such as other programs connected to the instrument before the erase. Not a
    // definition instruction, so receivers that have nowhere to show it may ignore it.
    virtual void warningShown (juce::String text) { juce::ignoreUnused (text); }
};
