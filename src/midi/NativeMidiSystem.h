#pragma once

#include "midi/MidiSystem.h"

#include <memory>

namespace vfu
{
// The operating system's MIDI system as this platform reaches it, and how its ports open.
struct NativeMidiSystem
{
    std::unique_ptr<MidiSystem> system;
    bool portsOpenOnMessageThread = false;
};

// One definition per platform, in src/midi/native/<system>/, chosen by src/CMakeLists.txt: the ALSA
// sequencer on Linux, WinMM on Windows, JUCE's own devices elsewhere.
NativeMidiSystem createNativeMidiSystem();
} // namespace vfu
