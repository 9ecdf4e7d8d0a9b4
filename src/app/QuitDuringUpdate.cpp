// How the application quits around the guarded phase of an update: unattended quit requests wait
// for the update's verdict, then quit as cleanly as at any other time.
#include "app/VornFirmwareUpdaterApplication.h"

#include "app/MainWindow.h"
#include "core/Log.h"
#include "ui/MainComponent.h"

MainComponent* VornFirmwareUpdaterApplication::getPanel() const
{
    return mainWindow != nullptr ? mainWindow->getMainComponent() : nullptr;
}

bool VornFirmwareUpdaterApplication::isUpdateGuarded() const
{
    auto* panel = getPanel();
    return panel != nullptr && panel->isGuarded();
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
