// The state machine executor against small definition documents: entry reports, instruction
// kinds, requested states, time-outs, restarts and stops.
#include "EngineTestSupport.h"

#include "core/Log.h"

#include <gtest/gtest.h>

using namespace vfu::test;

namespace
{
const juce::String restingState = "<State name=\"Rest\" pollingMode=\"none\"/>";
}

TEST (Executor, reports_the_state_entry_then_progress_zero_then_one_report_per_instruction_in_order)
{
    EngineHarness harness (
        makeDocument ("<State name=\"A\" pollingMode=\"none\">"
                      "<TextField name=\"InstalledVersion\" text=\"v ?(version) / ?(version)\"/>"
                      "<Button name=\"InstallCancel\" text=\"Install\" state=\"enabled\" gotoState=\"A\"/>"
                      "<Button name=\"InstallCancel\" text=\"Cancel\" state=\"Enabled\"/>"
                      "<Print text=\"hello\"/>"
                      "<TextField name=\"Installing\" text=\"\" visible=\"false\"/>"
                      "</State>"));
    harness.updater->startThread();

    ASSERT_TRUE (harness.waitFor ([&] { return harness.callback.getLines().size() >= 7; }));
    harness.updater->stopThread (2000);

    const juce::StringArray expected{ "stateChanged|none|A",
                                      "progressChanged|0",
                                      "textFieldChanged|InstalledVersion|v Unknown / Unknown|true",
                                      "buttonChanged|InstallCancel|Install|true",
                                      "buttonChanged|InstallCancel|Cancel|false",
                                      "printMessage|hello|false",
                                      "textFieldChanged|Installing||false" };
    EXPECT_EQ (harness.callback.getLines(), expected);
}

TEST (Executor, runs_the_instructions_after_a_GotoState_and_lets_the_last_GotoState_decide)
{
    EngineHarness harness (makeDocument ("<State name=\"A\" pollingMode=\"none\">"
                                         "<GotoState state=\"B\"/>"
                                         "<Print text=\"after the first\"/>"
                                         "<GotoState state=\"C\"/>"
                                         "<GotoState state=\"No such state\"/>"
                                         "</State>"
                                         "<State name=\"B\" pollingMode=\"none\"/>"
                                         "<State name=\"C\" pollingMode=\"none\"/>"));
    harness.updater->startThread();

    ASSERT_TRUE (harness.waitForState ("C"));
    harness.updater->stopThread (2000);

    const auto lines = harness.callback.getLines();
    EXPECT_EQ (lines.indexOf ("printMessage|after the first|false"), 2);
    EXPECT_EQ (lines[3], "stateChanged|A|C");
    EXPECT_FALSE (harness.callback.hasEntered ("B"));
}

TEST (Executor, a_Wait_sleeps_its_time_on_the_clock_and_a_none_state_then_follows_its_GotoState_without_polling)
{
    EngineHarness harness (makeDocument ("<State name=\"A\" pollingMode=\"none\">"
                                         "<Print text=\"before\"/><Wait time=\"5.0\"/><GotoState state=\"B\"/>"
                                         "</State>"
                                         "<State name=\"B\" pollingMode=\"none\"/>"));
    harness.addChosenRecordingDevice();
    harness.updater->startThread();

    ASSERT_TRUE (harness.waitForState ("B"));
    harness.updater->stopThread (2000);

    const auto before = harness.callback.getTime (harness.callback.indexOf ("printMessage|before|false"));
    const auto entered = harness.callback.getTime (harness.callback.indexOfEntry ("B"));
    EXPECT_GE (entered - before, 5000);
    EXPECT_LT (entered - before, 5000 + 3000);
    EXPECT_EQ (harness.layer.getNumMessagesSentTo ("Test Port"), 0);
}

TEST (Executor, two_none_states_that_GotoState_each_other_pause_between_entries_instead_of_spinning)
{
    // No callback: reports are dropped, so nothing but the engine itself paces the entries.
    vfu::ScaledClock clock (5.0);
    vfu::VirtualMidiLayer layer (clock);
    MIDIPortsSelector selector (layer, clock);
    vfu::UpdaterEnvironment environment;
    environment.portsSelector = &selector;
    environment.clock = &clock;
    environment.programFile = juce::File();
    FirmwareUpdater updater (makeDocument ("<State name=\"A\" pollingMode=\"none\"><GotoState state=\"B\"/></State>"
                                           "<State name=\"B\" pollingMode=\"none\"><GotoState state=\"A\"/></State>"),
                             "Test", false, nullptr, {}, environment);

    const auto start = clock.now();
    updater.startThread();
    juce::Thread::sleep (200);
    ASSERT_TRUE (updater.stopThread (2000));
    const auto elapsed = clock.now() - start;

    // After as many entries as the machine has states, each waits an idle pass (10 clock ms).
    EXPECT_GT (updater.getCompletedStateEntries(), 3);
    EXPECT_LE (updater.getCompletedStateEntries(), elapsed / 10 + 4);
}

TEST (Executor, checks_versionNumber_as_an_exact_text_comparison_and_ignores_other_checks)
{
    auto folder = createTemporaryFolder ("check");
    writePackage (folder, "2.2.1", { { "test-fw-2.2.1.syx", juce::MemoryBlock ("\xf0\x01\xf7", 3) } });

    EngineHarness harness (
        makeDocument ("<State name=\"A\" pollingMode=\"none\">"
                      "<Check name=\"versionNumber\" value=\"true\"><Print text=\"equal\"/></Check>"
                      "<Check name=\"versionNumber\" value=\"false\"><Print text=\"different\"/>"
                      "<Check name=\"versionNumber\" value=\"false\"><Print text=\"nested\"/></Check></Check>"
                      "<Check name=\"versionnumber\" value=\"false\"><Print text=\"wrong name\"/></Check>"
                      "<Print text=\"end\"/>"
                      "</State>"),
        50.0, { folder });
    ASSERT_TRUE (harness.updater->setFirmwareVersion ("2.2.1"));
    harness.updater->startThread();

    ASSERT_TRUE (harness.waitFor ([&] { return harness.callback.indexOf ("printMessage|end|false") >= 0; }));
    harness.updater->stopThread (2000);

    // No device answered, so the device version is "Unknown", which never equals a package version.
    const auto lines = harness.callback.getLines();
    EXPECT_LT (lines.indexOf ("printMessage|equal|false"), 0);
    EXPECT_LT (lines.indexOf ("printMessage|wrong name|false"), 0);
    EXPECT_LT (lines.indexOf ("printMessage|different|false"), lines.indexOf ("printMessage|nested|false"));
    EXPECT_GE (lines.indexOf ("printMessage|different|false"), 0);
}

TEST (Executor, times_out_to_the_global_timeout_state_45_seconds_after_entry_with_only_empty_polls)
{
    EngineHarness harness (makeDocument ("<State name=\"A\" pollingMode=\"none\"><GotoState state=\"Polling\"/></State>"
                                         "<State name=\"Polling\" pollingMode=\"MIDI ports\">"
                                         "<PollingState value=\"Device detected\" gotoState=\"A\"/></State>" +
                                             restingState,
                                         "A", "Rest"),
                           200.0);
    harness.updater->startThread();

    ASSERT_TRUE (harness.waitForState ("Rest", 60000));
    harness.updater->stopThread (2000);

    const auto entered = harness.callback.getTime (harness.callback.indexOfEntry ("Polling"));
    const auto timedOut = harness.callback.getTime (harness.callback.indexOfEntry ("Rest"));
    EXPECT_GE (timedOut - entered, 45000);
    EXPECT_LT (timedOut - entered, 45000 + 10000);
    EXPECT_EQ (harness.callback.getLines()[harness.callback.indexOfEntry ("Rest")], "stateChanged|Polling|Rest");
}

TEST (Executor, a_state_s_own_timeoutState_overrides_the_global_one_and_a_time_out_to_itself_changes_nothing)
{
    EngineHarness harness (makeDocument ("<State name=\"A\" pollingMode=\"none\"><GotoState state=\"Polling\"/></State>"
                                         "<State name=\"Polling\" pollingMode=\"midi PORTS\" timeoutState=\"Own\"/>"
                                         "<State name=\"Own\" pollingMode=\"MIDI ports\" timeoutState=\"Own\"/>" +
                                             restingState,
                                         "A", "Rest"),
                           400.0);
    harness.updater->startThread();

    ASSERT_TRUE (harness.waitForState ("Own", 60000));
    ASSERT_TRUE (harness.waitFor (
        [&] { return harness.callback.getLines().size() > harness.callback.indexOfEntry ("Own") + 1; }));

    // Stays in "Own" through several more time-outs, without reports.
    const auto numLines = harness.callback.getLines().size();
    harness.waitFor ([&] { return harness.clock.now() > harness.callback.getTime (numLines - 1) + 150000; }, 30000);
    harness.updater->stopThread (2000);

    EXPECT_EQ (harness.callback.getLines().size(), numLines);
    EXPECT_FALSE (harness.callback.hasEntered ("Rest"));
}

TEST (Executor, takes_the_last_click_before_the_engine_looks_and_ignores_whether_the_button_is_enabled)
{
    EngineHarness harness (
        makeDocument ("<State name=\"A\" pollingMode=\"none\">"
                      "<Button name=\"InstallCancel\" text=\"Install\" state=\"disabled\" gotoState=\"First\"/>"
                      "<Button name=\"InstallCancel\" text=\"Install\" state=\"disabled\" gotoState=\"Second\"/>"
                      "<Button name=\"InstallCancel\" text=\"Install\" state=\"enabled\" gotoState=\"\"/>"
                      "<Button name=\"Other\" text=\"Other\" state=\"enabled\" gotoState=\"Third\"/>"
                      "<Print text=\"waiting\"/><Wait time=\"2.0\"/>"
                      "</State>"
                      "<State name=\"First\" pollingMode=\"none\"/>"
                      "<State name=\"Second\" pollingMode=\"none\"/>"
                      "<State name=\"Third\" pollingMode=\"none\"/>"));
    harness.updater->startThread();

    // Both clicks land during the Wait, before the polling loop looks.
    ASSERT_TRUE (harness.waitFor ([&] { return harness.callback.indexOf ("printMessage|waiting|false") >= 0; }));
    harness.updater->buttonPressed ("Other");
    harness.updater->buttonPressed ("InstallCancel");
    harness.updater->buttonPressed ("NoSuchButton");

    ASSERT_TRUE (harness.waitForState ("Second"));
    harness.updater->stopThread (2000);

    EXPECT_FALSE (harness.callback.hasEntered ("First"));
    EXPECT_FALSE (harness.callback.hasEntered ("Third"));
}

TEST (Executor, a_click_naming_the_current_state_or_no_state_changes_nothing_and_a_later_click_still_acts)
{
    EngineHarness harness (makeDocument ("<State name=\"A\" pollingMode=\"none\">"
                                         "<Button name=\"Self\" gotoState=\"A\"/>"
                                         "<Button name=\"Nowhere\" gotoState=\"Missing\"/>"
                                         "<Button name=\"Go\" gotoState=\"B\"/>"
                                         "</State>"
                                         "<State name=\"B\" pollingMode=\"none\"/>"));
    harness.updater->startThread();
    ASSERT_TRUE (harness.waitFor ([&] { return harness.callback.getLines().size() >= 5; }));

    harness.updater->buttonPressed ("Self");
    runMessageLoopFor (100);
    harness.updater->buttonPressed ("Nowhere");
    runMessageLoopFor (100);
    EXPECT_EQ (harness.callback.getLines().size(), 5);

    harness.updater->buttonPressed ("Go");
    EXPECT_TRUE (harness.waitForState ("B", 5000));
    harness.updater->stopThread (2000);
}

TEST (Executor, a_request_survives_state_entries_until_a_polling_loop_takes_it)
{
    // The click lands while "A" runs its instructions; "A" moves on by GotoState, and the request
    // is acted on in the polling loop of "B".
    EngineHarness harness (makeDocument ("<State name=\"A\" pollingMode=\"none\">"
                                         "<Button name=\"InstallCancel\" gotoState=\"Cancelled\"/>"
                                         "<Print text=\"waiting\"/><Wait time=\"2.0\"/><GotoState state=\"B\"/>"
                                         "</State>"
                                         "<State name=\"B\" pollingMode=\"none\"/>"
                                         "<State name=\"Cancelled\" pollingMode=\"none\"/>"));
    harness.updater->startThread();
    ASSERT_TRUE (harness.waitFor ([&] { return harness.callback.indexOf ("printMessage|waiting|false") >= 0; }));
    harness.updater->buttonPressed ("InstallCancel");

    ASSERT_TRUE (harness.waitForState ("Cancelled"));
    harness.updater->stopThread (2000);
    EXPECT_EQ (harness.callback.getStates(), juce::StringArray ({ "A", "B", "Cancelled" }));
}

TEST (Executor, restartFromInitialState_during_a_poll_enters_the_initial_state_with_previous_none)
{
    EngineHarness harness (makeDocument ("<State name=\"A\" pollingMode=\"none\"><GotoState state=\"Polling\"/></State>"
                                         "<State name=\"Polling\" pollingMode=\"MIDI Device inquiry\"/>"),
                           5.0);
    // A silent port: every inquiry waits its full second for an answer that never comes.
    harness.layer.addPorts ("Silent");
    harness.updater->startThread();

    ASSERT_TRUE (harness.waitForState ("Polling"));
    runMessageLoopFor (100);
    harness.updater->restartFromInitialState();

    ASSERT_TRUE (harness.waitFor ([&] { return harness.callback.getStates().size() >= 3; }));
    harness.updater->stopThread (2000);

    const auto lines = harness.callback.getLines();
    EXPECT_EQ (lines[lines.indexOf ("stateChanged|A|Polling") + 2], "stateChanged|none|A");
}

TEST (Executor, a_none_state_moves_on_by_a_restart)
{
    EngineHarness harness (makeDocument ("<State name=\"A\" pollingMode=\"none\"><GotoState state=\"Empty\"/></State>"
                                         "<State name=\"Empty\" pollingMode=\"none\" extra=\"kept\"/>"));
    harness.updater->startThread();
    ASSERT_TRUE (harness.waitForState ("Empty"));
    // The report comes before the engine takes the state as current, so that is awaited too.
    EXPECT_TRUE (harness.waitFor ([&] { return harness.updater->getCurrentStateName() == "Empty"; }, 5000));

    harness.updater->restartFromInitialState();
    ASSERT_TRUE (harness.waitFor ([&] { return harness.callback.indexOf ("stateChanged|none|A", 1) > 0; }, 5000));
    harness.updater->stopThread (2000);
}

TEST (Executor, a_restart_of_the_thread_begins_again_from_the_initial_state)
{
    EngineHarness harness (makeDocument ("<State name=\"A\" pollingMode=\"none\"><GotoState state=\"B\"/></State>"
                                         "<State name=\"B\" pollingMode=\"none\"/>"));
    harness.updater->startThread();
    ASSERT_TRUE (harness.waitFor ([&] { return harness.callback.getLines().size() >= 4; }));
    ASSERT_TRUE (harness.updater->stopThread (1500));

    harness.updater->startThread();
    ASSERT_TRUE (harness.waitFor ([&] { return harness.callback.getStates().size() >= 4; }));
    harness.updater->stopThread (2000);
    EXPECT_EQ (harness.callback.getLines()[harness.callback.indexOf ("stateChanged|A|B") + 1], "progressChanged|0");
    EXPECT_EQ (harness.callback.indexOf ("stateChanged|none|A", 1), 2 + 1 + 1);
}

TEST (Executor, a_click_not_yet_taken_when_the_thread_restarts_is_acted_on_after_the_restart)
{
    // As on a switch of Advanced Mode: the click lands, the thread is stopped before a polling
    // loop took it, then started again; the request survives into the new run.
    EngineHarness harness (
        makeDocument ("<State name=\"A\" pollingMode=\"none\"><Button name=\"Go\" gotoState=\"B\"/></State>"
                      "<State name=\"B\" pollingMode=\"none\"/>"));
    harness.updater->startThread();
    ASSERT_TRUE (harness.waitFor ([&] { return harness.callback.getLines().size() >= 3; }));
    ASSERT_TRUE (harness.updater->stopThread (1500));

    harness.updater->buttonPressed ("Go");
    harness.updater->startThread();
    EXPECT_TRUE (harness.waitForState ("B", 5000));
    harness.updater->stopThread (2000);
    EXPECT_EQ (harness.callback.getStates(), juce::StringArray ({ "A", "A", "B" }));
}

// ----- Stopping -----

TEST (ExecutorStop, a_stop_while_the_engine_waits_for_a_report_ends_the_run_and_the_late_report_does_nothing)
{
    EngineHarness harness (makeDocument ("<State name=\"A\" pollingMode=\"none\"/>"));
    harness.updater->startThread();

    // The message loop is not run: the engine sits waiting for its first report.
    juce::Thread::sleep (200);
    bool stopped = false;
    const auto elapsed = timeStopMilliseconds (*harness.updater, 1500, stopped);
    EXPECT_TRUE (stopped);
    EXPECT_LT (elapsed, 1000);

    runMessageLoopFor (200);
    EXPECT_TRUE (harness.callback.getLines().isEmpty());
}

TEST (ExecutorStop, a_stop_during_a_Wait_ends_the_run_within_its_time_out)
{
    EngineHarness harness (
        makeDocument ("<State name=\"A\" pollingMode=\"none\"><Print text=\"w\"/><Wait time=\"600\"/></State>"), 1.0);
    harness.updater->startThread();
    ASSERT_TRUE (harness.waitFor ([&] { return harness.callback.getLines().size() >= 3; }));

    bool stopped = false;
    EXPECT_LT (timeStopMilliseconds (*harness.updater, 1500, stopped), 1000);
    EXPECT_TRUE (stopped);
}

TEST (ExecutorStop, destroying_the_updater_with_reports_queued_keeps_them_from_the_deleted_receiver)
{
    vfu::ScaledClock clock (50.0);
    vfu::VirtualMidiLayer layer (clock);
    MIDIPortsSelector selector (layer, clock);
    auto callback = std::make_unique<RecordingCallback> (clock);

    vfu::UpdaterEnvironment environment;
    environment.portsSelector = &selector;
    environment.clock = &clock;
    environment.programFile = juce::File();

    auto updater = std::make_unique<FirmwareUpdater> (makeDocument ("<State name=\"A\" pollingMode=\"none\"/>"), "Test",
                                                      false, callback.get(), juce::Array<juce::File>(), environment);
    updater->startThread();
    juce::Thread::sleep (100);

    updater.reset();
    callback.reset();

    // The stateChanged message posted before the stop runs now; it must not touch the receiver.
    runMessageLoopFor (200);
    SUCCEED();
}

TEST (ExecutorStop, runs_without_a_callback_and_drops_every_report)
{
    vfu::ScaledClock clock (50.0);
    vfu::VirtualMidiLayer layer (clock);
    MIDIPortsSelector selector (layer, clock);

    vfu::UpdaterEnvironment environment;
    environment.portsSelector = &selector;
    environment.clock = &clock;
    environment.programFile = juce::File();

    FirmwareUpdater updater (
        makeDocument ("<State name=\"A\" pollingMode=\"none\"><Print text=\"x\"/><GotoState state=\"B\"/></State>"
                      "<State name=\"B\" pollingMode=\"none\"/>"),
        "Test", false, nullptr, {}, environment);
    updater.startThread();
    EXPECT_TRUE (runMessageLoopUntil ([&] { return updater.getCurrentStateName() == "B"; }, 5000));
    EXPECT_TRUE (updater.stopThread (1500));
}
