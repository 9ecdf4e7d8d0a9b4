// Whole updates with the inbuilt definitions against simulated instruments, on a fast clock.
#include "EngineTestSupport.h"

#include "core/Log.h"
#include "packages/DeliveredPackage.h"
#include "simulation/SimulatedUpdate.h"
#include "packages/FirmwareImage.h"

#include <gtest/gtest.h>

using namespace vfu::test;
using vfu::simulation::InstrumentSettings;
using vfu::simulation::Model;

namespace
{
// Generous real-time bounds: the machine is shared.
constexpr int updateTimeoutMs = 120000;

juce::File writeFile (const juce::String& prefix, const juce::String& fileName, const juce::MemoryBlock& data)
{
    auto file = createTemporaryFolder (prefix).getChildFile (fileName);
    file.replaceWithData (data.getData(), data.getSize());
    return file;
}

juce::File writeDeliveredPackage()
{
    return writeFile ("delivered", vfu::DeliveredPackage::packageFileName, vfu::DeliveredPackage::createPackage());
}

juce::File writeImagesPackage (const juce::String& baseName, const std::vector<vfu::ArchiveWriter::Entry>& images)
{
    return writeFile (baseName, baseName + ".vfw", vfu::ArchiveWriter::createPackage (baseName, images));
}

// Under ThreadSanitizer the engine runs many times slower, too slow for the instruments' reply
// windows on a fast clock: VFU_TEST_SLOWDOWN divides the clock speed (never below real time).
double testClockSpeed (double speed)
{
    const auto slowdown = juce::SystemStats::getEnvironmentVariable ("VFU_TEST_SLOWDOWN", "1").getDoubleValue();
    return slowdown > 1.0 ? juce::jmax (1.0, speed / slowdown) : speed;
}

// One simulated update; the clock and the recorder outlive it.
class WholeUpdate
{
public:
    WholeUpdate (Model model, const juce::File& package, double speed,
                 std::function<void (InstrumentSettings&)> adjust = {})
        : clock (testClockSpeed (speed)), callback (clock)
    {
        InstrumentSettings settings;
        settings.model = model;
        if (adjust)
            adjust (settings);

        vfu::SimulatedUpdate::Options options;
        options.deviceName = vfu::simulation::getModelInfo (model).name;
        options.packageFiles.add (package);
        options.clock = &clock;
        update = std::make_unique<vfu::SimulatedUpdate> (settings, options, &callback);
    }

    ~WholeUpdate()
    {
        if (update != nullptr)
            update->getUpdater().stopThread (5000);
    }

    FirmwareUpdater& updater() { return update->getUpdater(); }
    vfu::simulation::SimulatedInstrument& instrument() { return update->getInstrument(); }

    void start()
    {
        ASSERT_TRUE (update->getProblem().isEmpty()) << update->getProblem();
        updater().startThread();
    }

    bool waitForState (const juce::String& state, int timeoutMs = updateTimeoutMs)
    {
        return runMessageLoopUntil ([&] { return callback.hasEntered (state); }, timeoutMs);
    }

    bool waitFor (const std::function<bool()>& condition, int timeoutMs = updateTimeoutMs)
    {
        return runMessageLoopUntil (condition, timeoutMs);
    }

    bool waitForLine (const juce::String& line, int timeoutMs = updateTimeoutMs)
    {
        return runMessageLoopUntil ([&] { return callback.indexOf (line) >= 0; }, timeoutMs);
    }

    bool showsInstructions (const juce::String& text) const
    {
        return callback.indexOf ("textFieldChanged|InstructionsField|" + text + "|true") >= 0;
    }

    vfu::LogCollector log;
    vfu::ScaledClock clock;
    RecordingCallback callback;
    std::unique_ptr<vfu::SimulatedUpdate> update;
};

// The instrument restarts as soon as the image's last byte arrives, which may fall into the last
// packet's pause: the engine then sees the ports vanish before it counts the final packet.
void expectWholePercentProgressToTheEnd (const RecordingCallback& callback, const vfu::LogCollector& log)
{
    const auto lines = callback.getProgressLines();
    double previous = 0.0;
    int transferReports = 0;

    for (auto& line : lines)
    {
        const auto fraction = line.fromFirstOccurrenceOf ("|", false, false).getDoubleValue();
        if (fraction == 0.0)
            continue;
        EXPECT_GT (fraction, previous) << line;
        previous = fraction;
        ++transferReports;
    }

    if (log.contains ("Connection break !!!"))
        EXPECT_GE (previous, 0.99);
    else
        EXPECT_EQ (previous, 1.0);
    EXPECT_LE (transferReports, 100);
}
} // namespace

TEST (WholeUpdate, a_Quillbox_with_2_1_0_is_updated_to_2_2_1_and_shows_success)
{
    WholeUpdate run (Model::quillbox, writeDeliveredPackage(), 50.0,
                     [] (InstrumentSettings& s) { s.firmwareVersion = "2.1.0"; });
    run.start();

    ASSERT_TRUE (run.waitForState ("Download complete"));
    ASSERT_TRUE (run.waitFor ([&] { return run.showsInstructions ("Update completed successfully."); }));
    run.updater().stopThread (5000);

    const juce::StringArray expectedOrder{ "Idle, no device",   "Idle, device detected",
                                           "Firmware erase",    "Erase, waiting for reattach",
                                           "Firmware download", "Waiting for new firmware",
                                           "Download complete" };
    // Whether a poll catches the instrument while it restarts into its bootloader depends on timing.
    auto states = run.callback.getStates();
    states.removeString ("Waiting");
    EXPECT_EQ (states.joinIntoString (" > "), expectedOrder.joinIntoString (" > "));

    EXPECT_EQ (run.instrument().getInstalledVersion(), "2.2.1");
    EXPECT_EQ (run.instrument().getReceivedImage().getSize(), vfu::DeliveredPackage::imageSize);
    EXPECT_EQ (run.instrument().getErases(), 1);
    EXPECT_GE (run.callback.indexOf ("textFieldChanged|InstalledVersion|2.2.1|true"), 0);

    expectWholePercentProgressToTheEnd (run.callback, run.log);
    EXPECT_TRUE (run.log.contains ("Send 'quillbox-fw-2.2.1.syx' : 0 %%"));
}

TEST (WholeUpdate, a_Lumostrel_is_updated_with_its_own_package)
{
    const auto image = vfu::FirmwareImage::generate (0x000B, "1.1.0", 20000);
    WholeUpdate run (Model::lumostrel, writeImagesPackage ("lmstr-fw-1.1.0", { { "lmstr-fw-1.1.0.syx", image, true } }),
                     50.0);
    run.start();

    ASSERT_TRUE (run.waitFor ([&] { return run.showsInstructions ("Update successful."); }));
    EXPECT_EQ (run.instrument().getInstalledVersion(), "1.1.0");
    EXPECT_EQ (run.instrument().getReceivedImage(), image);
}

TEST (WholeUpdate, an_Orb_26_goes_through_both_installation_phases)
{
    const juce::String version = "1.1.0p1";
    WholeUpdate run (
        Model::orb26,
        writeImagesPackage (
            "orb26-fw-" + version,
            { { "orb26-fw2-" + version + ".syx", vfu::FirmwareImage::generate (0x000C, version, 6000), true },
              { "orb26-fw3-" + version + ".syx", vfu::FirmwareImage::generate (0x000C, version, 3000), true },
              { "orb26-fw4-" + version + ".syx", vfu::FirmwareImage::generate (0x000C, version, 4000), true } }),
        50.0,
        // An Orb 26 poll takes up to 3.5 s: a restart must last longer to be seen at all.
        [] (InstrumentSettings& s) { s.restartMs = 8000; });
    run.start();

    ASSERT_TRUE (run.waitFor ([&] { return run.showsInstructions ("Installation successful."); }))
        << run.callback.getStates().joinIntoString (" > ");

    const auto states = run.callback.getStates();
    for (auto* state :
         { "Waiting for erase", "DSP download", "Waiting for reattach, DSP", "Waiting for reattach, DSP check",
           "Panel erase", "Panel download", "Waiting for reattach, panel", "Download complete" })
        EXPECT_TRUE (states.contains (state)) << state << " in " << states.joinIntoString (" > ");

    EXPECT_LT (states.indexOf ("DSP download"), states.indexOf ("Panel erase"));
    EXPECT_LT (states.indexOf ("Panel erase"), states.indexOf ("Panel download"));
    EXPECT_EQ (run.instrument().getInstalledVersion(), version);
}

TEST (WholeUpdate, an_Orb_26_whose_panel_rejects_its_image_does_not_end_in_success)
{
    // The panel image with one bit changed (its own checksum no longer holds, the package's digest
    // is made for it): the DSP phase installs, the panel reports the update failed.
    const juce::String version = "1.1.0p1";
    auto panelImage = vfu::FirmwareImage::generate (0x000C, version, 4000);
    panelImage[2000] = (char) (panelImage[2000] ^ 0x01);
    WholeUpdate run (
        Model::orb26,
        writeImagesPackage (
            "orb26-fw-" + version,
            { { "orb26-fw2-" + version + ".syx", vfu::FirmwareImage::generate (0x000C, version, 6000), true },
              { "orb26-fw3-" + version + ".syx", vfu::FirmwareImage::generate (0x000C, version, 3000), true },
              { "orb26-fw4-" + version + ".syx", panelImage, true } }),
        50.0, [] (InstrumentSettings& s) { s.restartMs = 8000; });
    run.start();

    ASSERT_TRUE (run.waitForState ("Error, device detected")) << run.callback.getStates().joinIntoString (" > ");
    EXPECT_EQ (run.instrument().getPanelStateByte(), 5); // failed
    EXPECT_FALSE (run.callback.hasEntered ("Download complete")) << run.callback.getStates().joinIntoString (" > ");
    EXPECT_FALSE (run.showsInstructions ("Installation successful."));
}

TEST (WholeUpdate, an_instrument_already_in_its_bootloader_is_installed_after_a_click_on_Install)
{
    WholeUpdate run (Model::quillbox, writeDeliveredPackage(), 50.0,
                     [] (InstrumentSettings& s) { s.startInBootloader = true; });
    run.start();

    ASSERT_TRUE (run.waitForLine ("buttonChanged|InstallCancel|Install|true"));
    ASSERT_TRUE (run.waitForState ("Idle, bootloader detected"));
    EXPECT_FALSE (run.callback.hasEntered ("Firmware erase"));
    run.updater().buttonPressed ("InstallCancel");

    ASSERT_TRUE (run.waitFor ([&] { return run.showsInstructions ("Update completed successfully."); }));
    EXPECT_EQ (run.instrument().getInstalledVersion(), "2.2.1");
}

TEST (WholeUpdate, Cancel_during_the_erase_wait_returns_to_idle_at_the_next_sleep)
{
    WholeUpdate run (Model::quillbox, writeDeliveredPackage(), 20.0);
    run.callback.onReport = [&] (const juce::String& line)
    {
        if (line.endsWith ("|Firmware erase"))
            juce::MessageManager::callAsync ([&] { run.updater().buttonPressed ("InstallCancel"); });
    };
    run.start();

    ASSERT_TRUE (run.waitForState ("Firmware erase"));
    ASSERT_TRUE (
        run.waitFor ([&] { return run.callback.indexOf ("stateChanged|Firmware erase|Idle, no device") >= 0; }));

    const auto entered = run.callback.getTime (run.callback.indexOfEntry ("Firmware erase"));
    const auto left = run.callback.getTime (run.callback.indexOf ("stateChanged|Firmware erase|Idle, no device"));
    EXPECT_LT (left - entered, 5000); // the full erase wait would be 10 s
}

TEST (WholeUpdate, Cancel_during_the_download_stops_the_transfer_and_shows_Update_cancelled_for_5_seconds)
{
    WholeUpdate run (Model::quillbox, writeDeliveredPackage(), 50.0);
    bool clicked = false;
    run.callback.onReport = [&] (const juce::String& line)
    {
        if (!clicked && line == "progressChanged|" + juce::String (0.1))
            clicked = true;
        if (line.startsWith ("progressChanged|0.1") && !clicked)
            clicked = true;
    };
    run.start();

    ASSERT_TRUE (run.waitFor ([&] { return run.updater().getProgress() >= 0.1; }));
    run.updater().buttonPressed ("InstallCancel");

    ASSERT_TRUE (run.waitForState ("Update cancelled"));
    EXPECT_TRUE (run.log.contains ("Exit to _pendingState = 'Update cancelled' !!!"));

    // The button of "Update cancelled" has no target: a click there changes nothing.
    run.updater().buttonPressed ("InstallCancel");
    ASSERT_TRUE (
        run.waitFor ([&] { return run.callback.indexOf ("stateChanged|Update cancelled|Idle, no device") >= 0; }));

    const auto cancelled = run.callback.getTime (run.callback.indexOfEntry ("Update cancelled"));
    const auto idle = run.callback.getTime (run.callback.indexOf ("stateChanged|Update cancelled|Idle, no device"));
    EXPECT_GE (idle - cancelled, 5000);
    EXPECT_LT (run.instrument().getReceivedImage().getSize(), vfu::DeliveredPackage::imageSize);
    EXPECT_NE (run.instrument().getInstalledVersion(), "2.2.1");
}

TEST (WholeUpdate, a_connection_break_mid_transfer_is_logged_and_follows_the_instruction_s_no_device_transition)
{
    WholeUpdate run (Model::quillbox, writeDeliveredPackage(), 50.0,
                     [] (InstrumentSettings& s)
                     {
                         s.faults.vanishAfterTransferBytes = 100000;
                         s.faults.neverComeBack = false;
                         // Away long enough that a loaded machine cannot hide the break from the
                         // watching loop (at 50x, 2 s of clock time is only 40 ms).
                         s.restartMs = 30000;
                     });
    run.start();

    ASSERT_TRUE (run.waitForLine ("stateChanged|Firmware download|Waiting for new firmware"));
    EXPECT_TRUE (run.log.contains ("Connection break !!!"));
    EXPECT_FALSE (run.log.contains ("Send 'quillbox-fw-2.2.1.syx' : 100 %%"));
}

TEST (WholeUpdate, a_corrupt_image_leaves_the_bootloader_waiting_and_leads_to_the_bootloader_error)
{
    auto image = vfu::FirmwareImage::generate (0x0008, "2.2.1", 20000);
    image[1000] = (char) (image[1000] ^ 0x01);

    WholeUpdate run (Model::quillbox,
                     writeImagesPackage ("quillbox-fw-2.2.1", { { "quillbox-fw-2.2.1.syx", image, true } }), 50.0);
    run.start();

    ASSERT_TRUE (run.waitForLine ("stateChanged|Firmware download|Error, bootloader detected"));
    EXPECT_TRUE (run.instrument().getLastImageProblem().isNotEmpty());
    EXPECT_EQ (run.instrument().getMode(), vfu::simulation::Mode::bootloader);
}

TEST (WholeUpdate, an_instrument_that_never_comes_back_times_out_to_idle_after_45_seconds)
{
    WholeUpdate run (Model::quillbox, writeDeliveredPackage(), 100.0,
                     [] (InstrumentSettings& s) { s.faults.neverComeBack = true; });
    run.start();

    ASSERT_TRUE (run.waitForLine ("stateChanged|Idle, device detected|Waiting"));
    ASSERT_TRUE (run.waitForLine ("stateChanged|Waiting|Idle, no device"));

    const auto waiting = run.callback.getTime (run.callback.indexOf ("stateChanged|Idle, device detected|Waiting"));
    const auto idle = run.callback.getTime (run.callback.indexOf ("stateChanged|Waiting|Idle, no device"));
    EXPECT_GE (idle - waiting, 45000);
    EXPECT_LT (idle - waiting, 45000 + 15000);
}

// ----- Stopping in the middle of an update -----

TEST (WholeUpdateStop, a_stop_during_the_erase_wait_ends_the_run_within_its_time_out)
{
    WholeUpdate run (Model::quillbox, writeDeliveredPackage(), 5.0);
    run.start();
    ASSERT_TRUE (run.waitForLine ("textFieldChanged|InstructionsField|Erasing...|true"));
    runMessageLoopFor (100);

    bool stopped = false;
    EXPECT_LT (timeStopMilliseconds (run.updater(), 1500, stopped), 1000);
    EXPECT_TRUE (stopped);
}

TEST (WholeUpdateStop, a_stop_during_the_transfer_ends_the_sender_and_the_run_within_the_time_out)
{
    WholeUpdate run (Model::quillbox, writeDeliveredPackage(), 5.0);
    run.start();
    ASSERT_TRUE (run.waitFor ([&] { return run.updater().getProgress() > 0.0; }));

    bool stopped = false;
    EXPECT_LT (timeStopMilliseconds (run.updater(), 1500, stopped), 1000);
    EXPECT_TRUE (stopped);
    EXPECT_FALSE (run.log.contains ("Sender thread timed out waiting for exit!"));

    // Nothing is sent once the run has ended.
    const auto received = run.instrument().getReceivedImage().getSize();
    runMessageLoopFor (300);
    EXPECT_EQ (run.instrument().getReceivedImage().getSize(), received);
}
