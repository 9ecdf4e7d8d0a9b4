#pragma once

#include "core/PowerHold.h"
#include "core/WindowsPowerCalls.h"

#include <mutex>
#include <set>

// Windows' holds, written against the table of calls so that they build and are tested everywhere.
namespace vfu::power
{
// Holds off idle sleep with SetThreadExecutionState. Windows keeps that state per thread and the hold
// may be released on any thread, so a thread of the hold's own sets the state, waits for the release
// and clears it. nullptr (and a log line) when the state cannot be set. `calls` is borrowed and
// outlives the hold.
std::unique_ptr<PowerHold> holdSystemAwake (const Calls& calls);

// The windows that carry a shutdown block reason, so that every ShutdownBlockReasonCreate is matched
// by one ShutdownBlockReasonDestroy. Meant for the message thread; locked all the same.
class ShutdownBlockReasons final
{
public:
    explicit ShutdownBlockReasons (const Calls& calls); // borrowed, outlives this

    // Shows reason for the window while a session ends (replacing one shown), or clears it when empty.
    void set (Window window, const juce::String& reason);

private:
    const Calls& calls;
    std::mutex lock;
    std::set<Window> windowsWithReason;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ShutdownBlockReasons)
};
} // namespace vfu::power
