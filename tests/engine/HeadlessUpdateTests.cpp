// Updates without a window (vfu update) through the layer the app uses, against a simulator that
// publishes its ports the way vfu simulate does, on a fast clock.
#include "EngineTestSupport.h"

#include "core/Log.h"
#include "definitions/InbuiltDefinitions.h"
#include "engine/GuardedSignals.h"
#include "engine/HeadlessUpdate.h"
#include "midi/MidiTestSupport.h"
#include "midi/SystemMidiLayer.h"
#include "packages/DeliveredPackage.h"
#include "packages/FirmwareImage.h"
#include "simulation/SimulatorSession.h"

#include <gtest/gtest.h>

using namespace vfu;
using namespace vfu::simulation;

namespace
{
double clockSpeed()
{
    const auto slowdown = juce::SystemStats::getEnvironmentVariable ("VFU_TEST_SLOWDOWN", "1").getDoubleValue();
    return slowdown > 1.0 ? juce::jmax (1.0, 50.0 / slowdown) : 50.0;
}

struct HeadlessRun
{
    explicit HeadlessRun (std::function<void (SimulatorSession::Options&)> adjust = {}, juce::File packageToUse = {},
                          juce::String deviceToUse = "Quillbox")
        : package (packageToUse), device (deviceToUse)
    {
        if (package == juce::File())
        {
            package = vfu::test::createTemporaryFolder ("headless").getChildFile (DeliveredPackage::packageFileName);
            const auto data = DeliveredPackage::createPackage();
            package.replaceWithData (data.getData(), data.getSize());
        }

        SimulatorSession::Options options;
        options.autoBootloaderMs = 3000;
        if (adjust)
            adjust (options);
        simulator = std::make_unique<SimulatorSession> (options, clock, publisher, [] (const juce::String&) {});
    }

    ~HeadlessRun()
    {
        update = nullptr;
        selector = nullptr;
        simulator = nullptr;
    }

    HeadlessUpdate& create (HeadlessUpdate::Hooks hooks)
    {
        juce::String problem;
        EXPECT_TRUE (simulator->start (problem)) << problem;

        UpdaterEnvironment environment;
        environment.portsSelector = selector.get();
        environment.clock = &clock;
        environment.programFile = juce::File();

        const auto packageFile = package;
        const auto deviceName = device;
        update = std::make_unique<HeadlessUpdate> (
            [environment, packageFile, deviceName] (FirmwareUpdaterCallback* callback)
            {
                return std::make_unique<FirmwareUpdater> (definitions::getInbuiltDefinitions(), deviceName, false,
                                                          callback, juce::Array<juce::File>{ packageFile },
                                                          environment);
            },
            std::move (hooks));
        EXPECT_TRUE (update->selectFirmware ({}));
        return *update;
    }

    // Runs on a worker while this thread runs the message loop, as vfu update does.
    HeadlessUpdate::Outcome run (int timeoutMs)
    {
        HeadlessUpdate::Outcome outcome = HeadlessUpdate::Outcome::failed;
        vfu::test::WorkerThread worker ([&] { outcome = update->run (timeoutMs); });
        worker.startThread();
        EXPECT_TRUE (vfu::test::runMessageLoopUntil ([&] { return worker.finished.load(); }, 240000));
        return outcome;
    }

    ScaledClock clock{ clockSpeed() };
    LogCollector log;
    VirtualMidiLayer system{ clock, true };
    VirtualMidiSystem systemView{ system };
    SystemMidiLayer layer{ systemView, true };
    VirtualPortPublisher publisher{ system };
    juce::File package;
    juce::String device;
    std::unique_ptr<SimulatorSession> simulator;
    std::unique_ptr<MIDIPortsSelector> selector = std::make_unique<MIDIPortsSelector> (layer, clock);
    std::unique_ptr<HeadlessUpdate> update;
};
} // namespace

TEST (HeadlessUpdate, updates_a_published_Quillbox_and_ends_once_it_reports_the_package_version)
{
    HeadlessRun run;
    int questions = 0;
    HeadlessUpdate::Hooks hooks;
    hooks.confirm = [&] (const juce::String&, int)
    {
        ++questions;
        return HeadlessUpdate::Answer::yes;
    };
    auto& update = run.create (hooks);
    EXPECT_EQ (update.getSelectedVersion(), "2.2.1");

    EXPECT_EQ (run.run (600000), HeadlessUpdate::Outcome::succeeded) << update.getReason();
    EXPECT_EQ (update.getIdentifiedVersion(), "2.2.1");
    EXPECT_EQ (questions, 0); // nothing but Cancel was ever offered
    EXPECT_FALSE (update.getUpdater().isThreadRunning());

    const auto summary = run.simulator->getSummary();
    EXPECT_EQ (summary.imageBytes, (juce::int64) DeliveredPackage::imageSize);
    EXPECT_EQ (summary.imageCheck, "valid");
    EXPECT_EQ (summary.installedVersion, "2.2.1");
    EXPECT_GE (summary.portCreations, 4); // start, bootloader, after the erase, new firmware
}

TEST (HeadlessUpdate, passes_on_the_warning_of_a_program_connected_to_the_bootloader_and_still_completes)
{
    HeadlessRun run;
    vfu::test::RecordingCallback reports (run.clock);
    // The bootloader's ports are published afresh: the program connects to them once they are there.
    reports.onReport = [&] (const juce::String& line)
    {
        if (line.endsWith ("|Firmware erase"))
            run.system.setOtherProgramsConnected (run.publisher.getLastPairName(), { "Clock DAW" });
    };
    HeadlessUpdate::Hooks hooks;
    hooks.reports = &reports;
    auto& update = run.create (hooks);

    EXPECT_EQ (run.run (600000), HeadlessUpdate::Outcome::succeeded) << update.getReason();
    const auto lines = reports.getLines();
    const auto warning = lines.indexOf ("warningShown|Warning: other programs are connected to the instrument "
                                        "(Clock DAW). If the update fails, close them and try again.");
    EXPECT_GT (warning, reports.indexOfEntry ("Firmware erase")) << lines.joinIntoString ("\n");
    EXPECT_LT (warning, reports.indexOfEntry ("Erase, waiting for reattach")) << lines.joinIntoString ("\n");
    EXPECT_EQ (run.simulator->getSummary().installedVersion, "2.2.1");
}

TEST (HeadlessUpdate, an_offered_Install_that_is_declined_ends_as_failed_and_one_accepted_is_pressed)
{
    auto inBootloader = [] (SimulatorSession::Options& options) { options.instrument.startInBootloader = true; };

    {
        HeadlessRun run (inBootloader);
        juce::StringArray asked;
        HeadlessUpdate::Hooks hooks;
        hooks.confirm = [&] (const juce::String& text, int)
        {
            asked.add (text);
            return HeadlessUpdate::Answer::no;
        };
        auto& update = run.create (hooks);

        EXPECT_EQ (run.run (600000), HeadlessUpdate::Outcome::failed);
        EXPECT_EQ (asked, juce::StringArray ("Install"));
        EXPECT_EQ (update.getReason(), "the updater waits for \"Install\" to be pressed");
        EXPECT_EQ (run.simulator->getInstrument().getErases(), 0);
    }
    {
        HeadlessRun run (inBootloader);
        juce::StringArray pressed;
        HeadlessUpdate::Hooks hooks;
        hooks.pressed = [&] (const juce::String& text) { pressed.add (text); };
        auto& update = run.create (hooks);

        EXPECT_EQ (run.run (600000), HeadlessUpdate::Outcome::succeeded) << update.getReason();
        EXPECT_EQ (pressed, juce::StringArray ("Install"));
    }
}

TEST (HeadlessUpdate,
      in_the_guarded_phase_one_interrupt_warns_two_stop_a_termination_waits_and_the_time_limit_ends_with_timeout)
{
    // Signals once the instrument has a part of the image: one interrupt, two in a row, one SIGTERM.
    struct Case
    {
        int interrupts, terminations;
        HeadlessUpdate::Outcome outcome;
        juce::String told;
    };
    for (const auto& c : { Case{ 1, 0, HeadlessUpdate::Outcome::succeeded, GuardedSignals::firstInterruptText },
                           Case{ 2, 0, HeadlessUpdate::Outcome::interrupted, GuardedSignals::firstInterruptText },
                           Case{ 0, 1, HeadlessUpdate::Outcome::succeeded, GuardedSignals::terminationDeferredText } })
    {
        SCOPED_TRACE (juce::String (c.interrupts) + " interrupts, " + juce::String (c.terminations) + " terminations");
        HeadlessRun run;
        std::atomic<bool> signalled{ false }, warned{ false };
        juce::StringArray told;
        const auto midTransfer = [&]
        {
            return run.simulator->getInstrument().getMode() == Mode::bootloader &&
                   run.system.getNumMessagesSentTo (run.publisher.getLastPairName()) > 20;
        };
        HeadlessUpdate::Hooks hooks;
        hooks.interrupts = [&]
        {
            if (!signalled && c.interrupts > 0 && midTransfer())
                signalled = true;
            // The second comes once the first has been answered, well within 3 s.
            return !signalled || c.interrupts == 0 ? 0 : (c.interrupts == 2 && warned) ? 2 : 1;
        };
        hooks.terminations = [&]
        {
            if (!signalled && c.terminations > 0 && midTransfer())
                signalled = true;
            return signalled && c.terminations > 0 ? 1 : 0;
        };
        hooks.told = [&] (const juce::String& text)
        {
            told.add (text);
            warned = true;
        };
        auto& update = run.create (hooks);

        EXPECT_EQ (run.run (600000), c.outcome) << update.getReason();
        EXPECT_EQ (told.joinIntoString ("\n"), c.told);
        EXPECT_FALSE (update.getUpdater().isThreadRunning());
        EXPECT_FALSE (update.getUpdater().isGuarded());
        const auto received = run.simulator->getInstrument().getReceivedImage().getSize();
        if (c.outcome == HeadlessUpdate::Outcome::interrupted)
        {
            EXPECT_EQ (update.getReason(), GuardedSignals::stoppedDuringUpdateText);
            EXPECT_LT (received, (size_t) DeliveredPackage::imageSize);
        }
        else
        {
            EXPECT_EQ (run.simulator->getSummary().installedVersion, "2.2.1");
        }
    }
    {
        // An instrument that never answers: the limit ends the run.
        HeadlessRun run ([] (SimulatorSession::Options& options) { options.instrument.faults.dropReplies = true; });
        auto& update = run.create ({});
        EXPECT_EQ (run.run (20000), HeadlessUpdate::Outcome::timedOut);
        EXPECT_EQ (HeadlessUpdate::exitCodeFor (HeadlessUpdate::Outcome::timedOut), 3);
        EXPECT_FALSE (update.getUpdater().isThreadRunning());
    }
}

TEST (HeadlessUpdate, an_Orb_26_runs_through_both_phases_before_the_end_is_judged)
{
    const juce::String version = "1.1.0p1";
    const auto folder = vfu::test::createTemporaryFolder ("headless-orb26");
    const auto package = folder.getChildFile ("orb26-fw-" + version + ".vfw");
    const auto data = ArchiveWriter::createPackage (
        "orb26-fw-" + version,
        { { "orb26-fw2-" + version + ".syx", FirmwareImage::generate (0x000C, version, 6000), true },
          { "orb26-fw3-" + version + ".syx", FirmwareImage::generate (0x000C, version, 3000), true },
          { "orb26-fw4-" + version + ".syx", FirmwareImage::generate (0x000C, version, 4000), true } });
    package.replaceWithData (data.getData(), data.getSize());

    HeadlessRun run ([] (SimulatorSession::Options& options) { options.instrument.model = Model::orb26; }, package,
                     "Orb 26");
    vfu::test::RecordingCallback recorder (run.clock);
    HeadlessUpdate::Hooks hooks;
    hooks.reports = &recorder;
    auto& update = run.create (hooks);

    EXPECT_EQ (run.run (1200000), HeadlessUpdate::Outcome::succeeded) << update.getReason();
    const auto states = recorder.getStates();
    EXPECT_EQ (states[states.size() - 1], "Download complete") << states.joinIntoString (" > ");
    EXPECT_TRUE (states.contains ("Panel download")) << states.joinIntoString (" > ");
    EXPECT_EQ (run.simulator->getInstrument().getPanelStateByte(), 3); // the panel image went in too
    EXPECT_EQ (update.getIdentifiedVersion(), version);
}

TEST (HeadlessUpdate, an_error_state_ends_the_run_at_once_with_its_instructions_and_nothing_is_pressed_twice)
{
    {
        // The connection breaks mid-transfer: the instrument comes back in its bootloader and the
        // updater offers Install again. Pressing it would erase and flash a second time.
        HeadlessRun run ([] (SimulatorSession::Options& options)
                         { options.instrument.faults.vanishAfterTransferBytes = 8000; });
        juce::StringArray pressed;
        HeadlessUpdate::Hooks hooks; // no confirm: every offer accepted, as with --yes
        hooks.pressed = [&] (const juce::String& text) { pressed.add (text); };
        auto& update = run.create (hooks);

        EXPECT_EQ (run.run (600000), HeadlessUpdate::Outcome::failed);
        EXPECT_EQ (update.getReason(), "reached \"Error, bootloader detected\": Something went wrong while performing "
                                       "the update. Please try again.");
        EXPECT_TRUE (pressed.isEmpty()) << pressed.joinIntoString (", ");
        EXPECT_EQ (run.simulator->getInstrument().getErases(), 1);
    }
    {
        // Switched off and on just as Install is pressed: the instrument comes back in its firmware
        // after the erase was sent, before any transfer. A person has to restart it. No simulated
        // restart into the bootloader: were it quick enough, the updater might never see the
        // instrument in its firmware and go on to a whole update (seen under Wine's slower steps).
        HeadlessRun run (
            [] (SimulatorSession::Options& options)
            {
                options.instrument.startInBootloader = true;
                options.autoBootloaderMs = -1;
            });
        HeadlessUpdate::Hooks hooks;
        hooks.pressed = [&] (const juce::String&) { run.simulator->getInstrument().powerCycle(); };
        auto& update = run.create (hooks);

        const auto start = run.clock.now();
        EXPECT_EQ (run.run (600000), HeadlessUpdate::Outcome::failed);
        EXPECT_EQ (update.getReason(), "reached \"Error, device detected\": Something went wrong while performing "
                                       "the update. Please try again.");
        EXPECT_LT (run.clock.now() - start, 120000); // at once, not at the time limit
        EXPECT_TRUE (HeadlessUpdate::isErrorState ("Error"));
        EXPECT_FALSE (HeadlessUpdate::isErrorState ("Errors reported"));
        EXPECT_FALSE (HeadlessUpdate::isErrorState ("Idle, no device"));
    }
}

TEST (HeadlessUpdate, a_question_is_given_the_time_left_and_one_that_runs_out_of_it_ends_as_timed_out)
{
    HeadlessRun run ([] (SimulatorSession::Options& options) { options.instrument.startInBootloader = true; });
    int millisecondsLeft = -1;
    HeadlessUpdate::Hooks hooks;
    hooks.confirm = [&] (const juce::String&, int left)
    {
        millisecondsLeft = left;
        return HeadlessUpdate::Answer::timeUp;
    };
    run.create (hooks);

    EXPECT_EQ (run.run (60000), HeadlessUpdate::Outcome::timedOut);
    EXPECT_GT (millisecondsLeft, 0);
    EXPECT_LE (millisecondsLeft, 60000);
}

// ----- The decision taken at each check, without an engine -----

namespace
{
// At rest after a transfer, instructions run, the instrument identified in 2.2.1.
HeadlessUpdate::Snapshot restingAfterTransfer()
{
    HeadlessUpdate::Snapshot snapshot;
    snapshot.state = "Download complete";
    snapshot.entry = 7;
    snapshot.entryDone = true;
    snapshot.identifiedAtEntry = true;
    snapshot.versionAtEntry = "2.2.1";
    snapshot.buttonName = "InstallCancel";
    snapshot.buttonText = "Cancel";
    snapshot.transferSeen = true;
    return snapshot;
}

HeadlessUpdate::RunState heldFor (const juce::String& version)
{
    HeadlessUpdate::RunState held;
    held.selectedVersion = version;
    held.timeoutMs = 60000;
    return held;
}

using Action = HeadlessUpdate::Decision::Action;
using Outcome = HeadlessUpdate::Outcome;
} // namespace

TEST (HeadlessUpdateDecision, an_update_at_rest_after_its_transfer_is_judged_by_the_version_identified)
{
    auto snapshot = restingAfterTransfer();
    auto verdict = HeadlessUpdate::decide (snapshot, heldFor ("2.2.1"));
    EXPECT_EQ (verdict.action, Action::end);
    EXPECT_EQ (verdict.outcome, Outcome::succeeded);
    EXPECT_TRUE (verdict.cameToRest);

    verdict = HeadlessUpdate::decide (snapshot, heldFor ("2.3.0"));
    EXPECT_EQ (verdict.outcome, Outcome::failed);
    EXPECT_EQ (verdict.reason, "the instrument reports 2.2.1, the package is 2.3.0");

    snapshot.identifiedAtEntry = false; // still in its bootloader
    EXPECT_EQ (HeadlessUpdate::decide (snapshot, heldFor ("2.2.1")).outcome, Outcome::failed);

    snapshot.entryDone = false; // the instructions of the state have not run yet
    EXPECT_EQ (HeadlessUpdate::decide (snapshot, heldFor ("2.2.1")).action, Action::wait);
}

TEST (HeadlessUpdateDecision, a_button_is_asked_about_once_per_entry_never_Cancel_never_again_nor_after_a_transfer)
{
    auto snapshot = restingAfterTransfer();
    snapshot.transferSeen = false;
    snapshot.buttonEnabled = true; // Cancel during an erase
    EXPECT_EQ (HeadlessUpdate::decide (snapshot, heldFor ("2.2.1")).action, Action::wait);

    snapshot.buttonText = "Install";
    auto held = heldFor ("2.2.1");
    EXPECT_EQ (HeadlessUpdate::decide (snapshot, held).action, Action::ask);
    held.answeredEntry = snapshot.entry;
    EXPECT_EQ (HeadlessUpdate::decide (snapshot, held).action, Action::wait);

    held.pressedTexts.add ("Install");
    ++snapshot.entry;
    EXPECT_EQ (HeadlessUpdate::decide (snapshot, held).reason,
               "\"Install\" is offered again; it is pressed once at most");

    snapshot.transferSeen = true;
    const auto again = HeadlessUpdate::decide (snapshot, heldFor ("2.2.1"));
    EXPECT_EQ (again.outcome, Outcome::failed);
    EXPECT_EQ (again.reason, "\"Install\" is offered after the transfer; not pressed again");
}

TEST (HeadlessUpdateDecision, an_end_held_back_for_the_verdict_waits_for_it_then_lets_a_finished_update_be_judged)
{
    auto snapshot = restingAfterTransfer();
    snapshot.guarded = true;
    snapshot.entryDone = false;
    auto held = heldFor ("2.2.1");
    held.endAfterVerdict = Outcome::timedOut;
    EXPECT_EQ (HeadlessUpdate::decide (snapshot, held).action, Action::wait) << "never during the guarded phase";

    snapshot.guarded = false;
    held.inVerdictGrace = true;
    EXPECT_EQ (HeadlessUpdate::decide (snapshot, held).action, Action::wait) << "the verdict state shows first";

    held.inVerdictGrace = false;
    const auto timedOut = HeadlessUpdate::decide (snapshot, held);
    EXPECT_EQ (timedOut.outcome, Outcome::timedOut);
    EXPECT_EQ (timedOut.reason, "no end within 60 s");

    snapshot.entryDone = true;
    EXPECT_EQ (HeadlessUpdate::decide (snapshot, held).outcome, Outcome::succeeded);

    snapshot.state = "Error, device detected"; // an error state ends failed, with what to do
    snapshot.instructions = "Try again.";
    snapshot.transferSeen = false;
    held.endAfterVerdict.reset();
    EXPECT_EQ (HeadlessUpdate::decide (snapshot, held).reason, "reached \"Error, device detected\": Try again.");
}
