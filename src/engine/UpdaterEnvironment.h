#pragma once

#include "core/PowerHold.h"

#include <juce_core/juce_core.h>

#include <functional>
#include <memory>

class MIDIPortsSelector;

namespace vfu
{
class Clock;

// What a FirmwareUpdater uses from outside its definition: the port selector, the clock, the
// program file that may carry packages and the hold on sleep and shutdown. The defaults are those of the shipped app.
struct UpdaterEnvironment
{
    // Null: the program-wide selector over the real MIDI layer.
    MIDIPortsSelector* portsSelector = nullptr;

    // Null: the real clock.
    Clock* clock = nullptr;

    // The file opened as the program archive; a File() that does not exist means none.
    juce::File programFile = juce::File::getSpecialLocation (juce::File::currentApplicationFile);

    // Takes the hold on sleep and shutdown for the guarded phase, on the engine thread; a null
    // result means no hold. Null: the platform's hold for this program ("Firmware update in
    // progress").
    std::function<std::unique_ptr<PowerHold>()> holdPower;
};
} // namespace vfu
