// How the application quits around the guarded phase of an update: termination signals and the
// unattended quit timers wait for the update's verdict, then quit as cleanly as at any other time.
#include "app/VornFirmwareUpdaterApplication.h"

#include "app/MainWindow.h"
#include "core/Log.h"
#include "ui/MainComponent.h"

namespace
{
juce::String signalName (vfu::TerminationSignal signal)
{
    switch (signal)
    {
        case vfu::TerminationSignal::interrupt:
            return "SIGINT";
        case vfu::TerminationSignal::terminate:
            return "SIGTERM";
        case vfu::TerminationSignal::hangUp:
            return "SIGHUP";
    }
    return "A termination signal";
}
} // namespace

MainComponent* VornFirmwareUpdaterApplication::getPanel() const
{
    return mainWindow != nullptr ? mainWindow->getMainComponent() : nullptr;
}

bool VornFirmwareUpdaterApplication::isUpdateGuarded() const
{
    auto* panel = getPanel();
    return panel != nullptr && panel->isGuarded();
}

void VornFirmwareUpdaterApplication::watchTerminationSignals()
{
    // Replaces JUCE's own SIGINT handler, which quits at once; SIGTERM and SIGHUP would otherwise
    // end the process without its shutdown.
    vfu::catchTerminationSignals (
        { vfu::TerminationSignal::interrupt, vfu::TerminationSignal::terminate, vfu::TerminationSignal::hangUp });

    // Told on the listener's thread; acted on on the message thread, looking the application up
    // again there, since a message may arrive while it is shutting down.
    signalListener = std::make_unique<vfu::TerminationSignalListener> (
        [] (vfu::TerminationSignal signal)
        {
            juce::MessageManager::callAsync (
                [signal]
                {
                    if (auto* app =
                            dynamic_cast<VornFirmwareUpdaterApplication*> (juce::JUCEApplicationBase::getInstance()))
                        app->terminationSignalReceived (signal);
                });
        });
}

void VornFirmwareUpdaterApplication::terminationSignalReceived (vfu::TerminationSignal signal)
{
    quitOnceUnguarded (signalName (signal) + " received", true);
}

void VornFirmwareUpdaterApplication::quitOnceUnguarded (const juce::String& request, bool logWhenQuittingNow)
{
    if (isUpdateGuarded())
    {
        writeLog (request + " while the firmware is being installed: the app quits when the update has ended");
        quitRequestedDuringUpdate = request;
        return;
    }

    if (logWhenQuittingNow)
        writeLog (request + ": quitting");
    quit();
}

void VornFirmwareUpdaterApplication::guardChanged (bool guarded)
{
    // The verdict is on screen and in the log by now: the engine ends the phase after it.
    if (guarded || quitRequestedDuringUpdate.isEmpty())
        return;

    writeLog ("The update has ended: quitting (" + quitRequestedDuringUpdate + " during it)");
    quitRequestedDuringUpdate.clear();
    quit();
}
