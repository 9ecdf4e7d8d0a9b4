// The main window builds its own content: the main panel for the device model, with the start-up
// that the panel runs.
#include "app/MainWindow.h"
#include "definitions/FirmwareUpdater.h"

#include "support/MessageLoop.h"
#include "ui/PanelTestSupport.h"

#include <gtest/gtest.h>

using namespace vfu::test;

TEST (MainWindow, creates_the_panel_for_the_device_model_as_its_content_and_hands_it_to_the_menu)
{
    PanelFixture fixture;
    vfu::UpdaterEnvironment environment;
    environment.portsSelector = &fixture.selector;
    environment.clock = &fixture.clock;
    environment.programFile = juce::File();

    MainComponent::StartupHandlers handlers;
    handlers.showFailure = [&] (const juce::String& title, const juce::String&) { fixture.failureTitles.add (title); };
    handlers.requestQuit = [&] { ++fixture.quitRequests; };

    VornFirmwareUpdaterApplication::MainWindow window ("Quillbox Firmware Updater", "Quillbox", environment,
                                                       createExecutableFolder ({ "2.2.1" }), handlers, false);

    auto* panel = dynamic_cast<MainComponent*> (window.getContentComponent());
    ASSERT_NE (panel, nullptr);
    EXPECT_EQ (window.getMainComponent(), panel);
    EXPECT_TRUE (fixture.failureTitles.isEmpty());
    EXPECT_EQ (fixture.quitRequests, 0);

    // The start-up ran for that model: its engine runs the Quillbox machine and lists the package.
    ASSERT_NE (panel->getEngine(), nullptr);
    EXPECT_EQ (panel->getEngine()->getFirmwareVersions(), juce::StringArray ("2.2.1"));
    EXPECT_TRUE (
        runMessageLoopUntil ([&] { return panel->getEngine()->getCurrentStateName() == "Idle, no device"; }, 10000));

    // The window keeps the panel's full size below the menu bar.
    EXPECT_EQ (window.getHeight(), panel->getHeight() + VornFirmwareUpdaterApplication::MainWindow::menuBarHeight);
}
