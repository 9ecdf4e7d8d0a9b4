#include "engine/GuardedSignals.h"

namespace vfu
{
const char* const GuardedSignals::firstInterruptText =
    "An update is in progress. Press Ctrl-C again within 3 seconds to stop it; the instrument would be "
    "left in its bootloader until the update is run again.";
const char* const GuardedSignals::terminationDeferredText =
    "An update is in progress: the request to end waits for the update's verdict.";
const char* const GuardedSignals::stoppedDuringUpdateText =
    "stopped during the update: the instrument is left in its bootloader; running the update again restores it";

GuardedSignals::GuardedSignals (std::function<Counts()> readToUse) : read (std::move (readToUse)) {}

GuardedSignals::Action GuardedSignals::look (bool guarded, double now)
{
    const auto counts = read ? read() : Counts{};

    if (counts.interrupts > seen.interrupts)
    {
        const int arrived = counts.interrupts - seen.interrupts;
        seen.interrupts = counts.interrupts;

        if (!guarded)
            return Action::stop;

        // Two at once (between two looks) count as the second within the window.
        if (arrived > 1 || now - lastInterrupt <= secondInterruptWindowMs)
            return Action::stopDuringUpdate;

        lastInterrupt = now;
        return Action::warnFirstInterrupt;
    }

    if (counts.terminations > seen.terminations)
    {
        seen.terminations = counts.terminations;
        if (!guarded)
            return Action::stop;

        const bool first = !terminationHeld;
        terminationHeld = true;
        return first ? Action::deferTermination : Action::goOn;
    }

    if (terminationHeld && !guarded)
    {
        terminationHeld = false;
        return Action::stopAfterVerdict;
    }

    return Action::goOn;
}
} // namespace vfu
