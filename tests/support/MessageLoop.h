#pragma once

#include <juce_events/juce_events.h>

#include <functional>

namespace vfu::test
{
// Runs the message loop until the condition holds or the time-out passes; true when it held.
// Use it on the message thread (the test's main thread) to await engine reports.
bool runMessageLoopUntil (const std::function<bool()>& condition, int timeoutMilliseconds);

// Runs the message loop for the given time.
void runMessageLoopFor (int milliseconds);
} // namespace vfu::test
