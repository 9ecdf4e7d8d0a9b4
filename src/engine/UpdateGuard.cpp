#include "engine/UpdateGuard.h"

#include "core/Log.h"

#include <juce_events/juce_events.h>

namespace vfu
{
UpdateGuard::UpdateGuard (HoldFactory takeHoldToUse, Report reportToUse)
    : takeHold (std::move (takeHoldToUse)), report (std::move (reportToUse))
{
}

UpdateGuard::~UpdateGuard()
{
    const std::lock_guard<std::mutex> guard (holdLock);
    hold = nullptr;
}

void UpdateGuard::begin()
{
    if (guarded.exchange (true))
        return;

    writeLog ("Guarded update: until the verdict, sleep and shutdown are held off");

    std::unique_ptr<PowerHold> taken;
    try
    {
        taken = takeHold ? takeHold() : holdForThisProgram();
    }
    catch (...)
    {
        // The update must not fail for want of the hold; it goes on without it.
        writeLog ("Sleep and shutdown could not be held off");
    }

    {
        const std::lock_guard<std::mutex> guard (holdLock);
        hold = std::move (taken);
    }

    if (report)
        report (true);
}

void UpdateGuard::end()
{
    if (!guarded.exchange (false))
        return;

    std::unique_ptr<PowerHold> released;
    {
        const std::lock_guard<std::mutex> guard (holdLock);
        released = std::move (hold);
    }
    released = nullptr; // outside the lock: a platform release may take a moment

    writeLog ("Guarded update ended");

    if (report)
        report (false);
}

std::unique_ptr<PowerHold> UpdateGuard::holdForThisProgram()
{
    // The system lists the hold under the program's name: the application's, else the executable's.
    juce::String name;
    if (auto* application = juce::JUCEApplicationBase::getInstance())
        name = application->getApplicationName();
    if (name.isEmpty())
        name = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getFileNameWithoutExtension();

    return holdOffSleepAndShutdown (name, "Firmware update in progress");
}
} // namespace vfu
