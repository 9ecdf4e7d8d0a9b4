#include "VornFirmwareUpdaterApplication.h"

#include "Log.h"
#include "MainWindow.h"
#include "../ui/MainComponent.h"

// Quits the application after a given time; started by "--quit-after SECONDS", which lets
// scripts and window tests run the app unattended.
class VornFirmwareUpdaterApplication::QuitTimer final : public juce::Timer
{
public:
    void timerCallback() override
    {
        stopTimer();
        if (auto* app = juce::JUCEApplicationBase::getInstance())
            app->systemRequestedQuit();
    }
};

VornFirmwareUpdaterApplication::VornFirmwareUpdaterApplication() = default;

VornFirmwareUpdaterApplication::~VornFirmwareUpdaterApplication()
{
    quitTimer.reset();
    mainWindow.reset();
}

const juce::String VornFirmwareUpdaterApplication::getApplicationName()
{
    return "Quillbox Firmware Updater";
}

const juce::String VornFirmwareUpdaterApplication::getApplicationVersion()
{
    return "2.2.0";
}

bool VornFirmwareUpdaterApplication::moreThanOneInstanceAllowed()
{
    return false;
}

void VornFirmwareUpdaterApplication::initialise (const juce::String&)
{
    openLog();

    const auto options = getCommandLineParameterArray();
    const auto quitIndex = options.indexOf ("--quit-after");
    if (quitIndex >= 0 && quitIndex + 1 < options.size())
    {
        quitTimer = std::make_unique<QuitTimer>();
        quitTimer->startTimer (juce::jmax (1, (int) (options[quitIndex + 1].getDoubleValue() * 1000.0)));
    }

    mainWindow.reset();
    mainWindow = std::make_unique<MainWindow> (getApplicationName(), std::make_unique<MainComponent> (deviceModelName));
}

void VornFirmwareUpdaterApplication::shutdown()
{
    quitTimer.reset();
    writeLog ("shutdown");
    closeLog();
    mainWindow.reset();
}

void VornFirmwareUpdaterApplication::anotherInstanceStarted (const juce::String&)
{
}

void VornFirmwareUpdaterApplication::systemRequestedQuit()
{
    quit();
}

void VornFirmwareUpdaterApplication::suspended()
{
}

void VornFirmwareUpdaterApplication::resumed()
{
}
