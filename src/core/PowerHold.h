#pragma once

#include <juce_core/juce_core.h>

#include <memory>

namespace vfu
{
// Holds off the computer's sleep (idle, a closed lid) and shutdown while it exists, as far as the
// platform allows (Linux: logind's lock; Windows: idle sleep only, shutdown through the window's
// reason; docs/guarded-update.md). Destroying it releases the hold, on any thread.
class PowerHold
{
public:
    virtual ~PowerHold() = default;
};

// Takes the platform's hold for the running program (programName names it to the system, why is
// shown to the user by the system). Where the platform has no such service or refuses, logs one
// line saying why and returns nullptr: the update goes on without the hold. Takes at most a few
// seconds (a system bus that never answers).
std::unique_ptr<PowerHold> holdOffSleepAndShutdown (const juce::String& programName, const juce::String& why);

// Windows: asks a session that is ending to wait for this top-level window, showing reason
// (ShutdownBlockReasonCreate); an empty reason clears it. Elsewhere it does nothing. Call it on
// the message thread, which owns the window.
void setShutdownBlockReason (void* nativeWindowHandle, const juce::String& reason);
} // namespace vfu
