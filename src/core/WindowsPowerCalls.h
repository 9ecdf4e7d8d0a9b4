#pragma once

#include <juce_core/juce_core.h>

#include <functional>

// The Windows calls that hold off sleep and shutdown, as a table of functions: the real table calls
// Windows, a test replaces it with one that records. Nothing here includes Windows' headers, so the
// logic that uses it and its tests build on every system.
namespace vfu::power
{
// An EXECUTION_STATE; the values are Windows' own (the Windows build checks them against winbase.h).
using ExecutionState = juce::uint32;

namespace states
{
constexpr ExecutionState systemRequired = 0x00000001u; // ES_SYSTEM_REQUIRED
constexpr ExecutionState continuous = 0x80000000u;     // ES_CONTINUOUS
} // namespace states

// A top-level window (an HWND).
using Window = void*;

struct Calls
{
    // SetThreadExecutionState: the previous state, 0 when it failed. It acts for the calling thread.
    std::function<ExecutionState (ExecutionState)> setThreadExecutionState;
    // ShutdownBlockReasonCreate / ShutdownBlockReasonDestroy: 0, or the system's error code.
    std::function<juce::uint32 (Window, const juce::String& reason)> createShutdownBlockReason;
    std::function<juce::uint32 (Window)> destroyShutdownBlockReason;
};

// Windows' own calls; an empty table on other systems.
const Calls& systemCalls();
} // namespace vfu::power
