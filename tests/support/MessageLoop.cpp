#include "MessageLoop.h"

namespace vfu::test
{
bool runMessageLoopUntil (const std::function<bool()>& condition, int timeoutMilliseconds)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) juce::jmax (0, timeoutMilliseconds);
    auto* mm = juce::MessageManager::getInstance();

    for (;;)
    {
        if (condition())
            return true;

        if (juce::Time::getMillisecondCounter() >= end)
            return condition();

        mm->runDispatchLoopUntil (5);
    }
}

void runMessageLoopFor (int milliseconds)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds);
}
} // namespace vfu::test
