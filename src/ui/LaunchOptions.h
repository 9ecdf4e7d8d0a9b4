#pragma once

#include <juce_core/juce_core.h>

// The app's command-line switches. Without any the app is the shipped updater on the real MIDI
// layer; the switches serve the demonstration mode and unattended runs (scripts, window tests).
struct LaunchOptions
{
    // --simulate[=SPEC]: a simulated instrument and user on the virtual MIDI layer.
    bool simulate = false;
    juce::String simulationSpec = "quillbox:2.1.0";

    // --speed N: clock speed-up of the demonstration (the real clock otherwise).
    double speed = 1.0;

    // --quit-after SECONDS: quit after that time (0: never).
    double quitAfterSeconds = 0.0;

    // --exit-when-done: quit a few seconds after the update has ended.
    bool exitWhenDone = false;

    // --screenshot FILE: save a PNG of the window's content before quitting.
    juce::File screenshotFile;

    // --instance-lock NAME: the one-copy-at-a-time check uses a lock of that name instead of the
    // lock every copy of the app on the computer shares (empty: the shared one). Copies started
    // with the same NAME still exclude each other; window tests use it so that a user's copy and
    // their runs never meet. NAME is letters, digits, '-', '_' and '.'.
    juce::String instanceLockName;
    // --record FILE: record what the updater exchanges with the MIDI system (docs/recordings.md).
    juce::File recordingFile;

    // Problems with the switches, one line each (unknown switches are reported, not fatal).
    juce::StringArray problems;

    static LaunchOptions parse (const juce::StringArray& arguments);
};
