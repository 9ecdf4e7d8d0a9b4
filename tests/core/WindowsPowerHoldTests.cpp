// Windows' holds through a replaced table of calls: every hold is matched by its release, on the
// thread Windows keeps the state for, and every shutdown block reason by one destroy.
#include "core/Log.h"
#include "core/PowerHold.h"
#include "core/WindowsPowerHold.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

using namespace vfu::power;

namespace
{
struct RecordingCalls
{
    ExecutionState answer = states::continuous; // what SetThreadExecutionState returns; 0 fails
    juce::uint32 createError = 0;

    std::mutex lock;
    juce::StringArray calls;
    std::vector<std::thread::id> threads; // of each SetThreadExecutionState

    juce::StringArray log()
    {
        const std::lock_guard<std::mutex> g (lock);
        return calls;
    }

    Calls table()
    {
        Calls t;
        t.setThreadExecutionState = [this] (ExecutionState state)
        {
            const std::lock_guard<std::mutex> g (lock);
            calls.add ("state " + juce::String::toHexString ((int) state));
            threads.push_back (std::this_thread::get_id());
            return answer;
        };
        t.createShutdownBlockReason = [this] (Window window, const juce::String& reason)
        {
            const std::lock_guard<std::mutex> g (lock);
            calls.add ("create " + juce::String ((juce::pointer_sized_int) window) + " " + reason);
            return createError;
        };
        t.destroyShutdownBlockReason = [this] (Window window)
        {
            const std::lock_guard<std::mutex> g (lock);
            calls.add ("destroy " + juce::String ((juce::pointer_sized_int) window));
            return 0u;
        };
        return t;
    }
};

Window window (int n)
{
    return reinterpret_cast<Window> ((juce::pointer_sized_int) n);
}
} // namespace

TEST (WindowsPowerHold, sets_and_clears_the_execution_state_on_one_thread_whichever_thread_releases_it)
{
    RecordingCalls system;
    const auto calls = system.table();

    auto hold = holdSystemAwake (calls);
    ASSERT_NE (hold, nullptr);
    EXPECT_EQ (system.log(), juce::StringArray ("state 80000001"));

    std::thread ([&hold] { hold.reset(); }).join();
    EXPECT_EQ (system.log(), juce::StringArray ("state 80000001", "state 80000000"));
    ASSERT_EQ (system.threads.size(), 2u);
    EXPECT_EQ (system.threads[0], system.threads[1]);

    // Refused: nothing to clear, and the log says so.
    RecordingCalls refusing;
    refusing.answer = 0;
    const auto refusingCalls = refusing.table();
    vfu::LogCollector log;
    EXPECT_EQ (holdSystemAwake (refusingCalls), nullptr);
    EXPECT_EQ (refusing.log(), juce::StringArray ("state 80000001"));
    EXPECT_TRUE (log.contains ("Sleep and shutdown are not held off: SetThreadExecutionState failed"));
}

TEST (WindowsPowerHold, matches_every_shutdown_block_reason_with_one_destroy)
{
    RecordingCalls system;
    const auto calls = system.table();
    ShutdownBlockReasons reasons (calls);

    reasons.set (window (1), "Firmware update in progress");
    reasons.set (window (1), "Still updating");
    reasons.set (window (1), {});
    reasons.set (window (1), {}); // none shown: nothing to destroy

    system.createError = 5; // ERROR_ACCESS_DENIED: nothing shown, so nothing to destroy later
    vfu::LogCollector log;
    reasons.set (window (2), "Firmware update in progress");
    reasons.set (window (2), {});
    reasons.set (nullptr, "Firmware update in progress");

    EXPECT_EQ (system.log(),
               juce::StringArray ({ "create 1 Firmware update in progress", "destroy 1", "create 1 Still updating",
                                    "destroy 1", "create 2 Firmware update in progress" }));
    EXPECT_TRUE (log.contains ("Shutdown is not held off: ShutdownBlockReasonCreate failed (error 5)"));
}

#if JUCE_WINDOWS
TEST (WindowsPowerHold, the_system_table_holds_off_idle_sleep)
{
    vfu::LogCollector log;
    auto hold = vfu::holdOffSleepAndShutdown ("QuillboxFirmwareUpdater", "Firmware update in progress");
    EXPECT_NE (hold, nullptr);
    EXPECT_TRUE (log.contains ("Idle sleep held off (SetThreadExecutionState)"))
        << log.getLines().joinIntoString ("\n");
}
#endif
