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

    // Lines about the computer and the instrument around the update, shown after the instructions
    // and the warning, in this order. Each stays until its sender withdraws it with an empty text.
    enum class Notice
    {
        waitingForFirmware, // the instrument answers as its bootloader before this run erased it
        portInUse,          // another program holds one of the instrument's MIDI ports
        keepConnected,      // during the guarded phase: keep the instrument connected and powered
    };
    virtual void noticeChanged (Notice which, juce::String text) { juce::ignoreUnused (which, text); }

    // The guarded phase: from just before the erase goes out until the update's verdict (success,
    // failure, a broken connection, or a cancel the user asked for). While it lasts, nothing on
    // the computer should stop the update: quitting asks first, signals wait for the verdict.
    virtual void guardChanged (bool guarded) { juce::ignoreUnused (guarded); }

    // During a firmware transfer, the seconds it still needs on the updater's clock, from the
    // bytes still to send and this transfer's pacing; reported with each progress step.
    virtual void timeLeftChanged (double secondsLeft) { juce::ignoreUnused (secondsLeft); }
};
