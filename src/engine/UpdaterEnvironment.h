#pragma once

#include <juce_core/juce_core.h>

class MIDIPortsSelector;

namespace vfu
{
class Clock;

// What a FirmwareUpdater uses from outside its definition: the port selector, the clock and
// the program file that may carry packages. The defaults are those of the shipped app.
struct UpdaterEnvironment
{
    // Null: the program-wide selector over the real MIDI layer.
    MIDIPortsSelector* portsSelector = nullptr;

    // Null: the real clock.
    Clock* clock = nullptr;

    // The file opened as the program archive; a File() that does not exist means none.
    juce::File programFile = juce::File::getSpecialLocation (juce::File::currentApplicationFile);
};
} // namespace vfu
