#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "core/TerminationSignals.h"
#include "midi/MIDIPortsSelector.h"
#include "engine/RecordedPorts.h"
#include "ui/LaunchOptions.h"

#include <memory>

class DemonstrationMode;
class MainComponent;
class SessionEndWatch;

// The application object: opens the log, creates the one main window, and closes both at the end.
class VornFirmwareUpdaterApplication final : public juce::JUCEApplication
{
public:
    class MainWindow;

    VornFirmwareUpdaterApplication();
    ~VornFirmwareUpdaterApplication() override;

    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;

    void initialise (const juce::String& commandLine) override;
    void shutdown() override;

    void anotherInstanceStarted (const juce::String& commandLine) override;
    void systemRequestedQuit() override;
    void suspended() override;
    void resumed() override;

    MainWindow* getMainWindow() const noexcept { return mainWindow.get(); }

    // The model whose firmware this build carries.
    static constexpr const char* deviceModelName = "Quillbox";

    const LaunchOptions& getLaunchOptions() const noexcept { return launchOptions; }

    // The name of the lock that lets one copy of the app run at a time: the one JUCE gives its own
    // single-instance lock (so that this build and earlier ones exclude each other), or, with a
    // private name (--instance-lock), a lock that only copies started with that name share.
    static juce::String getInstanceLockName (const juce::String& applicationName, const juce::String& privateName);

private:
    class QuitTimer;
    class ConsoleEcho;

    void watchState (const juce::String& newState);
    void saveScreenshot();

    // ----- Quitting while the firmware is being erased or written -----
    MainComponent* getPanel() const;
    bool isUpdateGuarded() const;
    void watchTerminationSignals();
    void terminationSignalReceived (vfu::TerminationSignal signal);
    // Quits now outside the guarded phase; during it, logs the request and quits at its end.
    void quitOnceUnguarded (const juce::String& request, bool logWhenQuittingNow);
    void guardChanged (bool guarded);

    LaunchOptions launchOptions;

    // Held from the start of initialise() to the end of shutdown(); null when another copy holds it.
    std::unique_ptr<juce::InterProcessLock> instanceLock;

    // The light look of the updater's window: black text on light grey, light buttons.
    std::unique_ptr<juce::LookAndFeel_V2> lookAndFeel;

    // Declared before the window: the panel's engine uses the simulated ports, so the window goes first.
    std::unique_ptr<DemonstrationMode> demonstration;
    std::unique_ptr<ConsoleEcho> consoleEcho;

    // --record: the layer the panel's selector uses, and that selector; they outlive the window.
    std::unique_ptr<vfu::RecordedPorts> recordedPorts;

    std::unique_ptr<MainWindow> mainWindow;
    std::unique_ptr<QuitTimer> quitTimer;
    std::unique_ptr<QuitTimer> doneTimer;

    // Signals are caught from initialise() on and told here through the message thread.
    std::unique_ptr<vfu::TerminationSignalListener> signalListener;
    std::unique_ptr<SessionEndWatch> sessionEndWatch;
    juce::String quitRequestedDuringUpdate; // a deferred request's name; empty when none

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VornFirmwareUpdaterApplication)
};
