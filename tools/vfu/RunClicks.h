#pragma once

#include "definitions/FirmwareUpdater.h"

#include <atomic>
#include <memory>
#include <vector>

namespace vfu
{
class Clock;
}

namespace vfu::tool
{
// A --click: InstallCancel pressed `delayMilliseconds` of clock time after `state` is entered.
struct Click
{
    juce::String state;
    int delayMilliseconds = 0;
    std::atomic<juce::int64> due{ -1 }; // clock time to press, -1 while the state was not entered
    std::atomic<bool> pressed{ false };
};

using Clicks = std::vector<std::unique_ptr<Click>>;

// STATE or STATE+SECONDS; a usage error otherwise.
std::unique_ptr<Click> parseClick (const juce::String& text);

// The states the clicks wait for.
juce::StringArray clickedStates (const Clicks& clicks);

// Presses InstallCancel, on the message thread, for each click whose time has come.
void pressDueClicks (Clicks& clicks, Clock& clock, FirmwareUpdater& updater);
} // namespace vfu::tool
