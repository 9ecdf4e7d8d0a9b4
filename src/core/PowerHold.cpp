// Windows and systems without a hold; Linux has its own file (PowerHoldLinux.cpp).
#include "core/PowerHold.h"

#if !JUCE_LINUX
#include "core/Log.h"
#include "core/WindowsPowerHold.h"

namespace vfu
{
#if JUCE_WINDOWS
std::unique_ptr<PowerHold> holdOffSleepAndShutdown (const juce::String& programName, const juce::String& why)
{
    // Windows takes no name or reason for the execution state; the window's shutdown block reason
    // shows them to the user.
    juce::ignoreUnused (programName, why);
    return power::holdSystemAwake (power::systemCalls());
}

void setShutdownBlockReason (void* nativeWindowHandle, const juce::String& reason)
{
    static power::ShutdownBlockReasons reasons (power::systemCalls());
    reasons.set (nativeWindowHandle, reason);
}
#else
// macOS will use an IOKit power assertion (docs/guarded-update.md); until then no hold.
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
#endif
} // namespace vfu
#endif
