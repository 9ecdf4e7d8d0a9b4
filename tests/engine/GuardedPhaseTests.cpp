// The guarded phase of whole updates against a simulated Quillbox: the hold on sleep and shutdown,
// the reports around it, the time left and the notice of an instrument left waiting for firmware.
#include "EngineTestSupport.h"

#include "core/Log.h"
#include "engine/SysexSender.h"
#include "packages/DeliveredPackage.h"
#include "simulation/SimulatedUpdate.h"

#include <gtest/gtest.h>

using namespace vfu::test;
using vfu::simulation::InstrumentSettings;

namespace
{
constexpr int updateTimeoutMs = 120000;

double testClockSpeed (double speed)
{
    const auto slowdown = juce::SystemStats::getEnvironmentVariable ("VFU_TEST_SLOWDOWN", "1").getDoubleValue();
    return slowdown > 1.0 ? juce::jmax (1.0, speed / slowdown) : speed;
}

// Stands in for the platform's hold: counts what was taken and released.
struct HoldCounts
{
    std::atomic<int> taken{ 0 }, released{ 0 };
};

struct FakeHold final : vfu::PowerHold
{
    explicit FakeHold (HoldCounts& countsToUse) : counts (countsToUse) { ++counts.taken; }
    ~FakeHold() override { ++counts.released; }
    HoldCounts& counts;
};

struct GuardedUpdate
{
    explicit GuardedUpdate (std::function<void (InstrumentSettings&)> adjust = {}, double speed = 50.0)
        : clock (testClockSpeed (speed)), callback (clock)
    {
        InstrumentSettings settings;
        if (adjust)
            adjust (settings);

        package = createTemporaryFolder ("guarded").getChildFile (vfu::DeliveredPackage::packageFileName);
        const auto data = vfu::DeliveredPackage::createPackage();
        package.replaceWithData (data.getData(), data.getSize());

        vfu::SimulatedUpdate::Options options;
        options.packageFiles.add (package);
        options.clock = &clock;
        options.holdPower = [this] { return std::make_unique<FakeHold> (holds); };
        callback.withGuardReports = true;
        update = std::make_unique<vfu::SimulatedUpdate> (settings, options, &callback);
    }

    ~GuardedUpdate() { update->getUpdater().stopThread (5000); }

    FirmwareUpdater& updater() { return update->getUpdater(); }

    void start()
    {
        ASSERT_TRUE (update->getProblem().isEmpty()) << update->getProblem();
        updater().startThread();
    }

    bool waitFor (const std::function<bool()>& condition) { return runMessageLoopUntil (condition, updateTimeoutMs); }
    bool waitForLine (const juce::String& line)
    {
        return waitFor ([&] { return callback.indexOf (line) >= 0; });
    }

    // Guarded once, and now released, with the reports to say so.
    void expectGuardedOnceAndReleased()
    {
        ASSERT_TRUE (waitForLine ("guardChanged|false")) << callback.getLines().joinIntoString ("\n");
        EXPECT_FALSE (updater().isGuarded());
        EXPECT_EQ (holds.taken.load(), 1);
        EXPECT_EQ (holds.released.load(), 1);
        const auto lines = callback.getLines();
        EXPECT_LT (lines.indexOf ("guardChanged|true"), lines.indexOf ("guardChanged|false"));
        EXPECT_EQ (lines.indexOf ("guardChanged|true", false, lines.indexOf ("guardChanged|true") + 1), -1);
    }

    juce::File package;
    vfu::LogCollector log;
    vfu::ScaledClock clock;
    RecordingCallback callback;
    HoldCounts holds;
    std::unique_ptr<vfu::SimulatedUpdate> update;
};
} // namespace

TEST (GuardedPhase, begins_just_before_the_erase_and_ends_at_the_verdict_with_the_hold_released)
{
    GuardedUpdate run;
    run.start();

    ASSERT_TRUE (run.waitFor ([&] { return run.updater().getProgress() > 0.0; }));
    EXPECT_TRUE (run.updater().isGuarded());
    EXPECT_EQ (run.holds.taken.load(), 1);
    EXPECT_EQ (run.holds.released.load(), 0);

    ASSERT_TRUE (run.waitForLine ("textFieldChanged|InstructionsField|Update completed successfully.|true"));
    run.expectGuardedOnceAndReleased();

    const auto lines = run.callback.getLines();
    const auto begun = lines.indexOf ("guardChanged|true");
    EXPECT_GT (begun, run.callback.indexOfEntry ("Firmware erase"));
    EXPECT_LT (begun, run.callback.indexOfEntry ("Erase, waiting for reattach"));
    EXPECT_GT (lines.indexOf ("guardChanged|false"), run.callback.indexOfEntry ("Download complete"));

    // An update that began in the firmware has nothing to restore.
    for (auto& line : lines)
        EXPECT_FALSE (line.startsWith ("noticeChanged|")) << line;
}

TEST (GuardedPhase, a_cancel_a_stop_mid_transfer_and_a_broken_connection_release_the_hold_too)
{
    {
        SCOPED_TRACE ("cancel");
        GuardedUpdate run;
        run.start();
        ASSERT_TRUE (run.waitFor ([&] { return run.updater().getProgress() >= 0.1; }));
        run.updater().buttonPressed ("InstallCancel");
        ASSERT_TRUE (run.waitFor ([&] { return run.callback.hasEntered ("Update cancelled"); }));
        run.expectGuardedOnceAndReleased();
        // Released at once, not after the 5 s that the cancel's text stays.
        const auto cancelled = run.callback.getTime (run.callback.indexOfEntry ("Update cancelled"));
        EXPECT_LT (run.callback.getTime (run.callback.indexOf ("guardChanged|false")) - cancelled, 5000);
    }
    {
        SCOPED_TRACE ("stop");
        GuardedUpdate run;
        run.start();
        ASSERT_TRUE (run.waitFor ([&] { return run.updater().getProgress() > 0.0; }));
        run.updater().stopThread (5000);
        run.expectGuardedOnceAndReleased();
    }
    {
        SCOPED_TRACE ("connection break");
        GuardedUpdate run (
            [] (InstrumentSettings& s)
            {
                s.faults.vanishAfterTransferBytes = 100000;
                s.restartMs = 30000; // away long enough for the watching loop to see it
            });
        run.start();
        ASSERT_TRUE (run.waitForLine ("stateChanged|Firmware download|Waiting for new firmware"))
            << run.callback.getStates().joinIntoString (" > ");
        // The verdict: back in its bootloader without the whole image.
        ASSERT_TRUE (run.waitForLine ("stateChanged|Waiting for new firmware|Error, bootloader detected"));
        run.expectGuardedOnceAndReleased();
    }
}

TEST (GuardedPhase, the_time_left_falls_with_each_step_to_zero_in_seconds_of_the_updater_s_clock)
{
    GuardedUpdate run;
    run.start();
    ASSERT_TRUE (run.waitForLine ("progressChanged|1"));

    const auto lines = run.callback.getLines();
    juce::Array<double> left;
    int first = -1, last = -1;
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith ("timeLeftChanged|"))
        {
            left.add (lines[i].fromFirstOccurrenceOf ("|", false, false).getDoubleValue());
            first = first < 0 ? i : first;
            last = i;
        }

    ASSERT_GT (left.size(), 50);
    const auto whole =
        (double) vfu::SysexSender::getTotalPauseMilliseconds ((int) vfu::DeliveredPackage::imageSize, 256, 0.082f) /
        1000.0;
    EXPECT_NEAR (left.getFirst(), whole, 0.001); // 137.532 s, whatever the clock's speed
    EXPECT_EQ (left.getLast(), 0.0);
    for (int i = 1; i < left.size(); ++i)
        EXPECT_LT (left[i], left[i - 1]);

    // It took at least that long on the clock (at 50 times real speed, under 3 s of real time).
    EXPECT_GE ((double) (run.callback.getTime (last) - run.callback.getTime (first)) / 1000.0, whole * 0.95);
}

TEST (GuardedPhase, an_instrument_found_in_its_bootloader_before_any_erase_is_noticed_until_the_erase_or_its_firmware)
{
    const juce::String shown = "noticeChanged|0|The Quillbox is waiting for firmware, probably from an update that "
                               "did not finish. Install restores it.";
    const juce::String withdrawn = "noticeChanged|0|";
    {
        SCOPED_TRACE ("Install");
        GuardedUpdate run ([] (InstrumentSettings& s) { s.startInBootloader = true; });
        run.callback.onReport = [&] (const juce::String& line)
        {
            if (line == "buttonChanged|InstallCancel|Install|true")
                juce::MessageManager::callAsync ([&] { run.updater().buttonPressed ("InstallCancel"); });
        };
        run.start();
        ASSERT_TRUE (run.waitForLine ("textFieldChanged|InstructionsField|Update completed successfully.|true"))
            << run.callback.getStates().joinIntoString (" > ");

        const auto lines = run.callback.getLines();
        EXPECT_GE (lines.indexOf (shown), 0);
        EXPECT_LT (lines.indexOf (shown), run.callback.indexOfEntry ("Firmware erase"));
        EXPECT_GT (lines.indexOf (withdrawn), run.callback.indexOfEntry ("Firmware erase"));
        EXPECT_LT (lines.indexOf (withdrawn), run.callback.indexOfEntry ("Erase, waiting for reattach"));
        // The bootloader after this run's own erase is no sign of an interrupted update.
        EXPECT_EQ (lines.indexOf (shown, false, lines.indexOf (shown) + 1), -1);
    }
    {
        SCOPED_TRACE ("firmware");
        GuardedUpdate run ([] (InstrumentSettings& s) { s.startInBootloader = true; });
        run.callback.onReport = [&] (const juce::String& line)
        {
            if (line == shown)
                run.update->getInstrument().powerCycle();
        };
        run.start();
        ASSERT_TRUE (run.waitForLine (withdrawn));
        EXPECT_GT (run.callback.indexOf (withdrawn), run.callback.indexOf (shown));
        EXPECT_EQ (run.holds.taken.load(), 0);
    }
}
