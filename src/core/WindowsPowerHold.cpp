#include "core/WindowsPowerHold.h"

#include "core/Log.h"

#include <atomic>

namespace vfu::power
{
namespace
{
// The hold's thread only sets a state, waits on an event and clears the state, so these bounds are
// never reached unless the system stalls.
constexpr int takeTimeoutMs = 2000;
constexpr int stopTimeoutMs = 2000;

class ExecutionStateHold final : public PowerHold, private juce::Thread
{
public:
    explicit ExecutionStateHold (const Calls& c) : juce::Thread ("Power hold"), calls (c) {}

    ~ExecutionStateHold() override
    {
        released.signal();
        stopThread (stopTimeoutMs);
    }

    // Starts the thread and waits until it has set the state: whether it did.
    bool take() { return startThread() && taken.wait (takeTimeoutMs) && held.load(); }

private:
    void run() override
    {
        held = calls.setThreadExecutionState (states::continuous | states::systemRequired) != 0;
        taken.signal();
        if (!held)
            return;

        released.wait (-1);
        calls.setThreadExecutionState (states::continuous);
    }

    const Calls& calls;
    juce::WaitableEvent taken, released;
    std::atomic<bool> held{ false };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ExecutionStateHold)
};

juce::String describeError (juce::uint32 error)
{
    return "error " + juce::String (error);
}
} // namespace

std::unique_ptr<PowerHold> holdSystemAwake (const Calls& calls)
{
    if (!calls.setThreadExecutionState)
    {
        writeLog ("Sleep and shutdown are not held off on this system");
        return nullptr;
    }

    auto hold = std::make_unique<ExecutionStateHold> (calls);
    if (!hold->take())
    {
        writeLog ("Sleep and shutdown are not held off: SetThreadExecutionState failed");
        return nullptr;
    }

    writeLog ("Idle sleep held off (SetThreadExecutionState)");
    return hold;
}

ShutdownBlockReasons::ShutdownBlockReasons (const Calls& c) : calls (c) {}

void ShutdownBlockReasons::set (Window window, const juce::String& reason)
{
    if (!calls.createShutdownBlockReason || !calls.destroyShutdownBlockReason)
        return;

    if (window == nullptr)
    {
        if (reason.isNotEmpty())
            writeLog ("Shutdown is not held off: the window has no native handle");
        return;
    }

    const std::lock_guard<std::mutex> guard (lock);
    if (windowsWithReason.erase (window) > 0)
        if (const auto error = calls.destroyShutdownBlockReason (window); error != 0)
            writeLog ("ShutdownBlockReasonDestroy failed (" + describeError (error) + ")");

    if (reason.isEmpty())
        return;

    if (const auto error = calls.createShutdownBlockReason (window, reason); error != 0)
        return writeLog ("Shutdown is not held off: ShutdownBlockReasonCreate failed (" + describeError (error) + ")");

    windowsWithReason.insert (window);
}
} // namespace vfu::power
