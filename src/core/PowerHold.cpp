#include "core/PowerHold.h"

#include "core/Log.h"

namespace vfu
{
// Placeholder until the platform holds are wired in: no hold, and the log says so.
std::unique_ptr<PowerHold> holdOffSleepAndShutdown (const juce::String& programName, const juce::String& why)
{
    juce::ignoreUnused (programName, why);
    writeLog ("Sleep and shutdown are not held off on this system");
    return nullptr;
}

void setShutdownBlockReason (void* nativeWindowHandle, const juce::String& reason)
{
    juce::ignoreUnused (nativeWindowHandle, reason);
}
} // namespace vfu
