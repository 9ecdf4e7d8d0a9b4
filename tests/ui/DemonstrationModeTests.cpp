#include "PanelTestSupport.h"

#include <gtest/gtest.h>

#include "core/Log.h"
#include "definitions/FirmwareUpdater.h"
#include "simulation/SimulatedInstrument.h"
#include "support/MessageLoop.h"
#include "ui/DemonstrationMode.h"

using namespace vfu::test;

TEST (DemonstrationMode, rejects_a_spec_it_cannot_read)
{
    DemonstrationMode demonstration ("theremin:1.0.0", 1.0);
    EXPECT_FALSE (demonstration.isValid());
    EXPECT_TRUE (demonstration.getProblem().contains ("theremin")) << demonstration.getProblem();
    EXPECT_EQ (demonstration.getInstrument(), nullptr);
}

TEST (DemonstrationMode, offers_a_silent_port_and_the_simulated_instrument)
{
    DemonstrationMode demonstration ("quillbox:bootloader", 10.0);
    ASSERT_TRUE (demonstration.isValid());

    const auto environment = demonstration.getEnvironment();
    ASSERT_NE (environment.portsSelector, nullptr);
    ASSERT_NE (environment.clock, nullptr);
    EXPECT_EQ (environment.clock->getSpeed(), 10.0);
    EXPECT_EQ (environment.portsSelector->getInputNames(), juce::StringArray ("Silent port 1", "Quillbox"));
    EXPECT_EQ (demonstration.getInstrument()->getMode(), vfu::simulation::Mode::bootloader);
    EXPECT_TRUE (demonstration.describe().contains ("bootloader"));
}

TEST (DemonstrationMode, the_simulated_user_takes_the_panel_through_a_whole_update)
{
    vfu::LogCollector log;
    DemonstrationMode demonstration ("quillbox:2.1.0", 50.0);
    ASSERT_TRUE (demonstration.isValid());

    auto environment = demonstration.getEnvironment();
    environment.programFile = juce::File();

    MainComponent::StartupHandlers handlers;
    handlers.showFailure = [] (const juce::String& title, const juce::String& message)
    { ADD_FAILURE() << title << ": " << message; };
    handlers.requestQuit = [] {};

    MainComponent panel ("Quillbox", environment, createExecutableFolder ({ "2.2.1" }), handlers);
    panel.onStateChanged = [&] (const juce::String&, const juce::String& state) { demonstration.stateShown (state); };

    EXPECT_TRUE (
        runMessageLoopUntil ([&] { return panel.getInstructionsText() == "Update completed successfully."; }, 120000))
        << log.getLines().joinIntoString ("\n");

    EXPECT_EQ (demonstration.getInstrument()->getInstalledVersion(), "2.2.1");
    EXPECT_TRUE (log.contains ("State 'Firmware download' (from State 'Erase, waiting for reattach')"));
    EXPECT_TRUE (panel.isInRestingState());
}
