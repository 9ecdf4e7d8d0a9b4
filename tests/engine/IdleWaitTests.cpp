// The engine's wait between polls that found nothing to ask: on a clock so slow that its recheck of
// the ports never comes during a test, only a port change, a request or a stop can end the wait.
#include "EngineTestSupport.h"

#include <gtest/gtest.h>

using namespace vfu::test;

namespace
{
// A thousandth of real time: the one-second recheck of the ports is about 17 real minutes away.
constexpr double nearlyStoppedClock = 0.001;

const juce::String waitingStates =
    "<State name=\"Wait\" pollingMode=\"MIDI ports\">"
    "<Button name=\"InstallCancel\" text=\"Cancel\" state=\"enabled\" gotoState=\"Pressed\"/>"
    "<PollingState value=\"Device detected\" gotoState=\"Found\"/></State>"
    "<State name=\"Found\" pollingMode=\"MIDI ports\">"
    "<PollingState value=\"No device\" gotoState=\"Lost\"/></State>"
    "<State name=\"Lost\" pollingMode=\"none\"/>"
    "<State name=\"Pressed\" pollingMode=\"none\"/>";
} // namespace

TEST (IdleWait, a_port_that_appears_or_leaves_while_the_engine_waits_moves_it_on)
{
    EngineHarness harness (makeDocument (waitingStates, "Wait", "Wait"), nearlyStoppedClock);
    harness.addChosenRecordingDevice();
    harness.layer.setPortsPresent ("Test Port", false);
    harness.updater->startThread();

    ASSERT_TRUE (harness.waitFor ([&] { return harness.updater->getCurrentStateName() == "Wait"; }));
    runMessageLoopFor (100); // well into the wait

    harness.layer.setPortsPresent ("Test Port", true);
    ASSERT_TRUE (harness.waitFor ([&] { return harness.updater->getCurrentStateName() == "Found"; }));
    runMessageLoopFor (100);

    harness.layer.setPortsPresent ("Test Port", false);
    EXPECT_TRUE (harness.waitForState ("Lost"));

    bool stopped = false;
    timeStopMilliseconds (*harness.updater, 5000, stopped);
    EXPECT_TRUE (stopped);
}

TEST (IdleWait, a_request_and_a_stop_end_the_wait_at_once)
{
    EngineHarness harness (makeDocument (waitingStates, "Wait", "Wait"), nearlyStoppedClock);
    harness.updater->startThread();

    ASSERT_TRUE (harness.waitFor ([&] { return harness.updater->getCurrentStateName() == "Wait"; }));
    runMessageLoopFor (100);
    harness.updater->buttonPressed ("InstallCancel");
    ASSERT_TRUE (harness.waitForState ("Pressed"));

    // A restart from a state with nothing pending, then a stop during the poll wait.
    harness.updater->restartFromInitialState();
    ASSERT_TRUE (harness.waitFor ([&] { return harness.callback.getStates().size() >= 3; }));
    runMessageLoopFor (100);

    bool stopped = false;
    timeStopMilliseconds (*harness.updater, 5000, stopped);
    EXPECT_TRUE (stopped);
}
