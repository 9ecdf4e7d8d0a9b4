#include "RunSignals.h"

#include "core/TerminationSignals.h"

#include <iostream>

namespace vfu::tool
{
SignalAnswer answerSignals (GuardedSignals& signals, const FirmwareUpdater& updater)
{
    switch (signals.look (updater.isGuarded(), juce::Time::getMillisecondCounterHiRes()))
    {
        case GuardedSignals::Action::goOn:
            break;
        case GuardedSignals::Action::warnFirstInterrupt:
            std::cerr << GuardedSignals::firstInterruptText << std::endl;
            break;
        case GuardedSignals::Action::deferTermination:
            std::cerr << GuardedSignals::terminationDeferredText << std::endl;
            break;
        case GuardedSignals::Action::stop:
            return { "interrupted", false };
        case GuardedSignals::Action::stopAfterVerdict:
            return { "interrupted", true };
        case GuardedSignals::Action::stopDuringUpdate:
            return { juce::String ("interrupted: ") + GuardedSignals::stoppedDuringUpdateText, false };
    }
    return {};
}

GuardedSignals::Counts readSignalCounts()
{
    return { getTerminationSignalCount (TerminationSignal::interrupt),
             getTerminationSignalCount (TerminationSignal::terminate) +
                 getTerminationSignalCount (TerminationSignal::hangUp) };
}
} // namespace vfu::tool
