#include "app/VornFirmwareUpdaterApplication.h"

#include "core/Log.h"
#include "core/ProgramVersion.h"
#include "app/MainWindow.h"
#include "app/SessionEndWatch.h"
#include "ui/DemonstrationMode.h"
#include "ui/KeyboardAccess.h"
#include "ui/MainComponent.h"

#include <iostream>

// Quits the application after a given time; used by "--quit-after SECONDS" and "--exit-when-done",
// which let scripts and window tests run the app unattended. Nobody is there to be asked, so
// while the firmware is being installed the quit waits for the update's end.
class VornFirmwareUpdaterApplication::QuitTimer final : public juce::Timer
{
public:
    void timerCallback() override
    {
        stopTimer();
        if (auto* app = dynamic_cast<VornFirmwareUpdaterApplication*> (juce::JUCEApplicationBase::getInstance()))
            app->quitOnceUnguarded ("The time to quit after ran out", false);
    }
};

// In the demonstration mode the state trace also goes to standard output, so that a terminal shows
// how the simulated update proceeds (the log file keeps every line).
class VornFirmwareUpdaterApplication::ConsoleEcho final : public vfu::LogObserver
{
public:
    ConsoleEcho() { vfu::addLogObserver (this); }
    ~ConsoleEcho() override { vfu::removeLogObserver (this); }

    void logLineWritten (const juce::String& text) override
    {
        if (!(text.startsWith ("State '") || text.startsWith ("Using ")))
            return;

        const juce::ScopedLock sl (lock);
        std::cout << text << std::endl;
    }

private:
    juce::CriticalSection lock;
};

namespace
{
// States after which an update has ended, successfully or not.
bool isFinalState (const juce::String& stateName)
{
    return stateName == "Download complete" || stateName == "Update cancelled" || stateName.startsWith ("Error, ");
}

constexpr int exitDelayMilliseconds = 3000;
} // namespace

VornFirmwareUpdaterApplication::VornFirmwareUpdaterApplication() = default;

VornFirmwareUpdaterApplication::~VornFirmwareUpdaterApplication()
{
    signalListener.reset();
    sessionEndWatch.reset();
    doneTimer.reset();
    quitTimer.reset();
    mainWindow.reset();
    consoleEcho.reset();
    demonstration.reset();

    if (lookAndFeel != nullptr)
        juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
}

const juce::String VornFirmwareUpdaterApplication::getApplicationName()
{
    return "Quillbox Firmware Updater";
}

const juce::String VornFirmwareUpdaterApplication::getApplicationVersion()
{
    return VFU_PROGRAM_VERSION;
}

// One copy at a time, but the app takes the lock itself (initialise) instead of JUCE's check, which
// quits without a word and always uses the lock every copy on the computer shares.
bool VornFirmwareUpdaterApplication::moreThanOneInstanceAllowed()
{
    return true;
}

juce::String VornFirmwareUpdaterApplication::getInstanceLockName (const juce::String& applicationName,
                                                                  const juce::String& privateName)
{
    const auto sharedName = "juceAppLock_" + applicationName;
    return privateName.isEmpty() ? sharedName : sharedName + "." + privateName;
}

void VornFirmwareUpdaterApplication::initialise (const juce::String&)
{
    launchOptions = LaunchOptions::parse (getCommandLineParameterArray());
    for (const auto& problem : launchOptions.problems)
        std::cerr << "QuillboxFirmwareUpdater: " << problem << std::endl;

    // Before anything is opened: the log file and the MIDI ports belong to the copy that runs.
    const auto lockName = getInstanceLockName (getApplicationName(), launchOptions.instanceLockName);
    instanceLock = std::make_unique<juce::InterProcessLock> (lockName);
    if (!instanceLock->enter (0))
    {
        instanceLock.reset();
        std::cerr << "QuillboxFirmwareUpdater: another instance is running (it holds the instance lock \"" << lockName
                  << "\"); this one quits" << std::endl;
        quit();
        return;
    }

    openLog();
    watchTerminationSignals();
    sessionEndWatch = std::make_unique<SessionEndWatch>();

    lookAndFeel = std::make_unique<FocusDrawingLookAndFeel>();
    juce::LookAndFeel::setDefaultLookAndFeel (lookAndFeel.get());

    if (launchOptions.quitAfterSeconds > 0.0)
    {
        quitTimer = std::make_unique<QuitTimer>();
        quitTimer->startTimer (juce::jmax (1, (int) (launchOptions.quitAfterSeconds * 1000.0)));
    }

    vfu::UpdaterEnvironment environment;

    if (launchOptions.simulate)
    {
        consoleEcho = std::make_unique<ConsoleEcho>();
        demonstration = std::make_unique<DemonstrationMode> (launchOptions.simulationSpec, launchOptions.speed);

        if (!demonstration->isValid())
        {
            std::cerr << "QuillboxFirmwareUpdater: " << demonstration->getProblem() << std::endl;
            demonstration.reset();
            consoleEcho.reset();
            setApplicationReturnValue (2);
            quit();
            return;
        }

        std::cout << "Demonstration: " << demonstration->describe() << std::endl;
        environment = demonstration->getEnvironment();
    }

    if (launchOptions.recordingFile != juce::File())
    {
        juce::String problem;
        recordedPorts =
            vfu::RecordedPorts::wrap (environment, launchOptions.recordingFile,
                                      getApplicationName() + " " + getApplicationVersion(), deviceModelName, problem);
        if (recordedPorts == nullptr)
            std::cerr << "QuillboxFirmwareUpdater: " << problem << std::endl;
    }

    mainWindow.reset();
    mainWindow = std::make_unique<MainWindow> (getApplicationName(), deviceModelName, environment);

    // Reports reach the panel through this message thread, so none has arrived before the hook is set.
    if (auto* panel = mainWindow->getMainComponent())
    {
        panel->onStateChanged = [this] (const juce::String&, const juce::String& newState) { watchState (newState); };
        panel->onGuardChanged = [this] (bool guarded) { guardChanged (guarded); };
    }
}

void VornFirmwareUpdaterApplication::watchState (const juce::String& newState)
{
    if (demonstration != nullptr)
        demonstration->stateShown (newState);

    if (launchOptions.exitWhenDone && isFinalState (newState) && doneTimer == nullptr)
    {
        doneTimer = std::make_unique<QuitTimer>();
        doneTimer->startTimer (exitDelayMilliseconds);
    }
}

void VornFirmwareUpdaterApplication::saveScreenshot()
{
    if (mainWindow == nullptr || launchOptions.screenshotFile == juce::File())
        return;

    const auto snapshot = mainWindow->createComponentSnapshot (mainWindow->getLocalBounds(), true, 1.0f);
    auto& file = launchOptions.screenshotFile;
    file.getParentDirectory().createDirectory();
    file.deleteFile();

    juce::FileOutputStream stream (file);
    juce::PNGImageFormat png;
    if (stream.openedOk() && png.writeImageToStream (snapshot, stream))
        std::cout << "Screenshot: " << file.getFullPathName() << std::endl;
    else
        std::cerr << "QuillboxFirmwareUpdater: cannot write the screenshot " << file.getFullPathName() << std::endl;
}

void VornFirmwareUpdaterApplication::shutdown()
{
    // A copy that found another one running has opened nothing.
    if (instanceLock == nullptr)
        return;

    doneTimer.reset();
    quitTimer.reset();
    signalListener.reset();
    sessionEndWatch.reset();

    saveScreenshot();

    // The last instructions on standard output, in every mode: a headless run (a test, a script
    // that quits the app) can read the outcome there without looking at the window.
    if (mainWindow != nullptr)
        if (auto* panel = mainWindow->getMainComponent())
            std::cout << "Instructions: " << panel->getInstructionsText() << std::endl;

    writeLog ("shutdown");
    consoleEcho.reset();
    closeLog();
    mainWindow.reset();
    demonstration.reset();

    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    lookAndFeel.reset();

    instanceLock.reset();
}

void VornFirmwareUpdaterApplication::anotherInstanceStarted (const juce::String&) {}

// The close button, the system's quit request (on Windows also the session's end) and the
// start-up failures come here.
void VornFirmwareUpdaterApplication::systemRequestedQuit()
{
    auto* panel = getPanel();
    if (panel == nullptr || !panel->isGuarded())
    {
        quit();
        return;
    }

    if (SessionEndWatch::isCriticalSessionEnd())
    {
        // The session ends whatever the answer; the log keeps what happened.
        writeLog ("Update interrupted: the session ended while the firmware was being installed");
        quit();
        return;
    }

    // Not answered here: on Windows JUCE then tells the session to wait (FALSE) until the user has.
    panel->askBeforeStopping (StopQuestion::forQuitting(),
                              [this]
                              {
                                  writeLog ("Update interrupted: quit while the firmware was being installed");
                                  quit();
                              });
}

void VornFirmwareUpdaterApplication::suspended() {}

void VornFirmwareUpdaterApplication::resumed() {}
