#pragma once

#include "midi/MIDIPortsSelector.h"
#include "simulation/SimulationSpec.h"
#include "core/Clock.h"
#include "core/Log.h"

#include <gtest/gtest.h>

#include <functional>

namespace vfu::test
{
// Runs work on a juce::Thread (the polls check Thread::currentThreadShouldExit) and waits for it.
class WorkerThread final : public juce::Thread
{
public:
    explicit WorkerThread (std::function<void()> w) : juce::Thread ("test worker"), work (std::move (w)) {}
    ~WorkerThread() override { stopThread (20000); }

    void run() override
    {
        work();
        finished = true;
    }

    bool waitUntilFinished (int realMilliseconds)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) realMilliseconds;
        while (!finished && juce::Time::getMillisecondCounter() < end)
            juce::Thread::sleep (2);
        return finished;
    }

    std::atomic<bool> finished{ false };

private:
    std::function<void()> work;
};

// Runs one function on a fresh worker thread and returns once it has finished.
inline void runOnWorker (std::function<void()> work)
{
    WorkerThread worker (std::move (work));
    worker.startThread();
    ASSERT_TRUE (worker.waitUntilFinished (120000));
}

inline PollResult pollOnWorker (std::function<PollResult()> poll)
{
    PollResult result = Aborted;
    runOnWorker ([&] { result = poll(); });
    return result;
}

inline juce::MidiMessage bytes (std::initializer_list<int> values)
{
    std::vector<juce::uint8> raw;
    for (auto v : values)
        raw.push_back ((juce::uint8) v);
    return juce::MidiMessage (raw.data(), (int) raw.size());
}

// Log lines that start with the prefix, in order.
inline juce::StringArray linesStartingWith (const LogCollector& log, const juce::String& prefix)
{
    juce::StringArray found;
    for (auto& line : log.getLines())
        if (line.startsWith (prefix))
            found.add (line);
    return found;
}

// Test speed: clock milliseconds per real millisecond.
constexpr double testClockSpeed = 10.0;
} // namespace vfu::test
