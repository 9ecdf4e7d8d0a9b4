// SendSysEx in the engine: command bytes, the erase wait, firmware transfers with their progress,
// log lines and after-transfer transitions, against a recording device.
#include "EngineTestSupport.h"

#include "core/Log.h"
#include "packages/FirmwarePackageStore.h"

#include <gtest/gtest.h>

using namespace vfu::test;

namespace
{
juce::MemoryBlock makeImage (int size)
{
    juce::MemoryBlock image ((size_t) size);
    for (int i = 0; i < size; ++i)
        image[i] = (char) (i % 0x7f);
    if (size > 1)
    {
        image[0] = (char) 0xf0;
        image[size - 1] = (char) 0xf7;
    }
    return image;
}

juce::String hexOf (const juce::MidiMessage& message)
{
    return juce::String::toHexString (message.getRawData(), message.getRawDataSize())
        .removeCharacters (" ")
        .toUpperCase();
}

// The progress reports made while the engine was in "A".
juce::StringArray progressInA (const RecordingCallback& callback)
{
    juce::StringArray result;
    const auto lines = callback.getLines();
    for (int i = 1; i < lines.size() && !lines[i].startsWith ("stateChanged|"); ++i)
        if (lines[i].startsWith ("progressChanged|"))
            result.add (lines[i]);
    return result;
}

juce::String downloadState (const juce::String& sendSysEx, const juce::String& pollingMode = "none")
{
    return "<State name=\"A\" pollingMode=\"" + pollingMode +
           "\">"
           "<Button name=\"InstallCancel\" text=\"Cancel\" state=\"enabled\" gotoState=\"Cancelled\"/>" +
           sendSysEx +
           "<Print text=\"after\"/></State>"
           "<State name=\"Done\" pollingMode=\"none\"/><State name=\"Gone\" pollingMode=\"none\"/>"
           "<State name=\"Cancelled\" pollingMode=\"none\"/>";
}

struct TransferFixture
{
    TransferFixture (const juce::String& states, int imageSize, double speed = 200.0,
                     const juce::String& deviceId = "0008")
        : folder (createTemporaryFolder ("transfer")), image (makeImage (imageSize)),
          package (writePackage (folder, "1.0.0", { { "test-fw-1.0.0.syx", image } })),
          harness (makeDocument (states, "A", "A", deviceId), speed, { folder }),
          device (harness.addChosenRecordingDevice())
    {
        harness.updater->setFirmwareVersion ("1.0.0");
    }

    vfu::LogCollector log;
    juce::File folder;
    juce::MemoryBlock image;
    juce::File package;
    EngineHarness harness;
    RecordingDevice& device;
};
} // namespace

TEST (SendSysExCommands, erase_and_panel_update_state_send_their_exact_bytes_with_the_low_7_bits_of_the_device_id)
{
    EngineHarness harness (makeDocument ("<State name=\"A\" pollingMode=\"none\">"
                                         "<SendSysEx messageKind=\"panel update state\"/>"
                                         "<SendSysEx messageKind=\"erase\"/>"
                                         "<Print text=\"erased\"/></State>",
                                         "A", "A", "00FF"),
                           500.0);
    auto& device = harness.addChosenRecordingDevice();
    harness.updater->startThread();

    ASSERT_TRUE (harness.waitFor ([&] { return harness.callback.indexOf ("printMessage|erased|false") >= 0; }));
    harness.updater->stopThread (2000);

    const auto messages = device.getMessages();
    ASSERT_EQ (messages.size(), 2u);
    EXPECT_EQ (hexOf (messages[0]), "F0047F3100F7");
    EXPECT_EQ (hexOf (messages[1]), "F0047F11F7");

    // Without a click the erase wait lasts its full 10 s.
    const auto entered = harness.callback.getTime (0);
    const auto erased = harness.callback.getTime (harness.callback.indexOf ("printMessage|erased|false"));
    EXPECT_GE (erased - entered, 10000);
}

TEST (SendSysExCommands, the_erase_wait_is_also_made_when_no_output_can_be_opened)
{
    EngineHarness harness (makeDocument ("<State name=\"A\" pollingMode=\"none\"><Print text=\"start\"/>"
                                         "<SendSysEx messageKind=\"erase\"/><Print text=\"erased\"/></State>"),
                           500.0);
    harness.updater->startThread();

    ASSERT_TRUE (harness.waitFor ([&] { return harness.callback.indexOf ("printMessage|erased|false") >= 0; }));
    harness.updater->stopThread (2000);

    const auto start = harness.callback.getTime (harness.callback.indexOf ("printMessage|start|false"));
    const auto erased = harness.callback.getTime (harness.callback.indexOf ("printMessage|erased|false"));
    EXPECT_GE (erased - start, 10000);
}

TEST (SendSysExCommands, a_capitalised_Erase_is_a_firmware_kind_that_no_package_holds_and_sends_nothing)
{
    TransferFixture f (downloadState ("<SendSysEx messageKind=\"Erase\"/>"), 300);
    f.harness.updater->startThread();

    ASSERT_TRUE (f.harness.waitFor ([&] { return f.harness.callback.indexOf ("printMessage|after|false") >= 0; }));
    f.harness.updater->stopThread (2000);

    // The machine sends an image "Erase.syx", which the package lacks: it is not offered at all.
    EXPECT_TRUE (f.device.getMessages().empty());
    EXPECT_EQ (f.harness.updater->getPackageStore().getFindings().front().reason, "required image missing: Erase.syx");
    EXPECT_TRUE (f.log.contains ("SendSysEx 'Erase' : no firmware package selected"));
    EXPECT_EQ (f.harness.callback.getProgressLines().size(), 1);
}

TEST (FirmwareTransfer, sends_the_image_in_packets_and_reports_each_whole_percent_once_ending_with_one)
{
    TransferFixture f (
        downloadState ("<SendSysEx messageKind=\"test-fw-$(version)\" endPollingMode=\"MIDI ports\" packetSize=\"32\">"
                       "<PollingState value=\"Device detected\" gotoState=\"Done\"/></SendSysEx>"),
        32 * 250 + 7);
    f.harness.updater->startThread();

    ASSERT_TRUE (f.harness.waitForState ("Done", 60000));
    f.harness.updater->stopThread (2000);

    EXPECT_EQ (f.device.getBytes(), f.image);
    const auto messages = f.device.getMessages();
    ASSERT_EQ (messages.size(), 250u);
    EXPECT_EQ (messages.back().getRawDataSize(), 39);

    auto progress = progressInA (f.harness.callback);
    ASSERT_GE (progress.size(), 3);
    EXPECT_EQ (progress[0], "progressChanged|0");
    EXPECT_EQ (progress[progress.size() - 1], "progressChanged|1");

    // The "after" Print runs after the post-send polling has moved on.
    const auto lines = f.harness.callback.getLines();
    EXPECT_LT (lines.indexOf ("progressChanged|1"), lines.indexOf ("printMessage|after|false"));
    EXPECT_LT (lines.indexOf ("printMessage|after|false"), lines.indexOf ("stateChanged|A|Done"));

    // Whole percentages only change upwards; each is logged with its report.
    juce::StringArray percentLines;
    for (auto& line : f.log.getLines())
        if (line.startsWith ("Send 'test-fw-1.0.0.syx' : "))
            percentLines.add (line);
    EXPECT_EQ (percentLines.size(), progress.size() - 1);
    EXPECT_EQ (percentLines[percentLines.size() - 1], "Send 'test-fw-1.0.0.syx' : 100 %%");
    EXPECT_LE (percentLines.size(), 101);
}

TEST (FirmwareTransfer, an_empty_image_sends_nothing_and_reports_no_progress)
{
    TransferFixture f (downloadState ("<SendSysEx messageKind=\"test-fw-$(version)\"/>"), 0);
    f.harness.updater->startThread();

    ASSERT_TRUE (f.harness.waitFor ([&] { return f.harness.callback.indexOf ("printMessage|after|false") >= 0; }));
    f.harness.updater->stopThread (2000);

    EXPECT_TRUE (f.device.getMessages().empty());
    EXPECT_EQ (f.harness.callback.getProgressLines(), juce::StringArray ({ "progressChanged|0" }));
}

TEST (FirmwareTransfer, a_click_ends_the_transfer_and_is_acted_on_by_the_state_s_polling_loop)
{
    TransferFixture f (downloadState ("<SendSysEx messageKind=\"test-fw-$(version)\" endPollingMode=\"MIDI ports\">"
                                      "<PollingState value=\"Device detected\" gotoState=\"Done\"/></SendSysEx>"),
                       256 * 400, 20.0);
    f.harness.updater->startThread();

    ASSERT_TRUE (f.harness.waitFor ([&] { return f.harness.updater->getProgress() > 0.05; }));
    f.harness.updater->buttonPressed ("InstallCancel");

    ASSERT_TRUE (f.harness.waitForState ("Cancelled"));
    f.harness.updater->stopThread (2000);

    EXPECT_TRUE (f.log.contains ("Exit to _pendingState = 'Cancelled' !!!"));
    EXPECT_FALSE (f.harness.callback.hasEntered ("Done"));
    EXPECT_LT (f.device.getNumBytes(), f.image.getSize());
}

TEST (FirmwareTransfer, ports_that_vanish_mid_transfer_log_a_connection_break_and_follow_the_instruction_s_list)
{
    TransferFixture f (downloadState ("<SendSysEx messageKind=\"test-fw-$(version)\" endPollingMode=\"MIDI ports\">"
                                      "<PollingState value=\"No device\" gotoState=\"Gone\"/>"
                                      "<PollingState value=\"Device detected\" gotoState=\"Done\"/></SendSysEx>"),
                       256 * 400, 20.0);
    f.harness.updater->startThread();

    ASSERT_TRUE (f.harness.waitFor ([&] { return f.harness.updater->getProgress() > 0.05; }));
    f.harness.layer.setPortsPresent ("Test Port", false);

    ASSERT_TRUE (f.harness.waitForState ("Gone"));
    f.harness.updater->stopThread (2000);
    EXPECT_TRUE (f.log.contains ("Connection break !!!"));
}

TEST (FirmwareTransfer, a_port_that_leaves_and_returns_between_two_checks_breaks_the_transfer_instead_of_completing_it)
{
    // The port comes back at once, so the port check may well see it listed all along; the output
    // opened before is dead, and the packets sent on it since reached nobody.
    TransferFixture f (downloadState ("<SendSysEx messageKind=\"test-fw-$(version)\" endPollingMode=\"MIDI ports\">"
                                      "<PollingState value=\"No device\" gotoState=\"Gone\"/>"
                                      "<PollingState value=\"Device detected\" gotoState=\"Done\"/></SendSysEx>"),
                       256 * 400, 20.0);
    f.harness.updater->startThread();

    ASSERT_TRUE (f.harness.waitFor ([&] { return f.harness.updater->getProgress() > 0.05; }));
    f.harness.layer.setPortsPresent ("Test Port", false);
    f.harness.layer.setPortsPresent ("Test Port", true);

    ASSERT_TRUE (f.harness.waitFor (
        [&] { return f.harness.callback.hasEntered ("Gone") || f.harness.callback.hasEntered ("Done"); }));
    f.harness.updater->stopThread (2000);
    EXPECT_TRUE (f.harness.callback.hasEntered ("Gone"));
    EXPECT_FALSE (f.harness.callback.hasEntered ("Done"));
    EXPECT_TRUE (f.log.contains ("Connection break !!!"));
    EXPECT_LT (f.harness.updater->getProgress(), 1.0);
}

TEST (FirmwareTransfer, without_a_selected_package_or_an_open_output_nothing_is_sent)
{
    // Ports not chosen: no output opens, so the transfer goes straight to the post-send polling,
    // whose "MIDI ports" poll finds nothing and lets the time-out run.
    auto folder = createTemporaryFolder ("nooutput");
    writePackage (folder, "1.0.0", { { "test-fw-1.0.0.syx", makeImage (600) } });
    EngineHarness harness (
        makeDocument (downloadState ("<SendSysEx messageKind=\"test-fw-$(version)\" endPollingMode=\"MIDI ports\">"
                                     "<PollingState value=\"No device\" gotoState=\"Gone\"/></SendSysEx>")),
        200.0, { folder });
    harness.layer.addDevice ("Unchosen", std::make_unique<RecordingDevice>());
    harness.updater->setFirmwareVersion ("1.0.0");
    harness.updater->startThread();

    ASSERT_TRUE (harness.waitForState ("Gone"));
    harness.updater->stopThread (2000);
    EXPECT_EQ (harness.layer.getNumMessagesSentTo ("Unchosen"), 0);
    EXPECT_EQ (progressInA (harness.callback).size(), 1);
}

TEST (FirmwareTransfer, an_end_polling_mode_that_polls_nothing_does_not_trap_the_engine)
{
    TransferFixture f (downloadState ("<SendSysEx messageKind=\"test-fw-$(version)\" endPollingMode=\"none\">"
                                      "<PollingState value=\"Device detected\" gotoState=\"Done\"/></SendSysEx>"),
                       300);
    f.harness.updater->startThread();

    ASSERT_TRUE (f.harness.waitFor ([&] { return f.harness.callback.indexOf ("printMessage|after|false") >= 0; }));
    f.harness.updater->buttonPressed ("InstallCancel");
    EXPECT_TRUE (f.harness.waitForState ("Cancelled", 5000));
    f.harness.updater->stopThread (2000);
}

TEST (FirmwareTransferStop, a_stop_during_a_transfer_ends_the_run_within_its_time_out)
{
    TransferFixture f (downloadState ("<SendSysEx messageKind=\"test-fw-$(version)\"/>"), 256 * 1000, 1.0);
    f.harness.updater->startThread();
    ASSERT_TRUE (f.harness.waitFor ([&] { return f.harness.updater->getProgress() > 0.0; }));

    bool stopped = false;
    EXPECT_LT (timeStopMilliseconds (*f.harness.updater, 1500, stopped), 1000);
    EXPECT_TRUE (stopped);
    EXPECT_FALSE (f.log.contains ("Sender thread timed out waiting for exit!"));
}

TEST (FirmwareTransfer, a_package_that_no_longer_passes_its_check_is_logged_as_such_and_nothing_is_sent)
{
    TransferFixture f (downloadState ("<SendSysEx messageKind=\"test-fw-$(version)\"/>"), 600);

    // Rewritten in place after collection, with one image byte changed behind its digest.
    auto altered = f.image;
    altered[10] = (char) (altered[10] ^ 1);
    const auto list = vfu::ArchiveWriter::createChecksumList ({ { "test-fw-1.0.0.syx", f.image } });
    const auto tampered = vfu::ArchiveWriter::createArchive (
        { { "test-fw-1.0.0.sha", juce::MemoryBlock (list.toRawUTF8(), list.getNumBytesAsUTF8()) },
          { "test-fw-1.0.0.syx", altered } });
    {
        juce::FileOutputStream out (f.package);
        ASSERT_TRUE (out.setPosition (0) && out.write (tampered.getData(), tampered.getSize()));
        ASSERT_TRUE (out.truncate().wasOk());
    }

    f.harness.updater->startThread();
    ASSERT_TRUE (f.harness.waitFor ([&] { return f.harness.callback.indexOf ("printMessage|after|false") >= 0; }));
    f.harness.updater->stopThread (2000);

    EXPECT_TRUE (f.device.getMessages().empty());
    EXPECT_TRUE (f.log.contains ("SendSysEx 'test-fw-$(version)' : the selected package no longer passes its check "
                                 "(digest mismatch: test-fw-1.0.0.syx)"));
    EXPECT_FALSE (f.log.contains ("no entry"));
}

namespace
{
// Passes everything through, except that the first port check made after the device received a
// packet lasts until the sender has counted that packet, and finds the ports gone.
class PortsVanishDuringCheck final : public vfu::MidiLayer
{
public:
    PortsVanishDuringCheck (vfu::VirtualMidiLayer& layerToWrap, RecordingDevice& deviceToWatch, int pauseMs)
        : layer (layerToWrap), device (deviceToWatch), pauseMilliseconds (pauseMs)
    {
    }

    juce::StringArray getInputNames() override
    {
        if (!vanished && !device.getMessages().empty())
        {
            vanished = true;
            juce::Thread::sleep (pauseMilliseconds * 3); // the sender's first pause ends meanwhile
            layer.setPortsPresent ("Test Port", false);
        }
        return layer.getInputNames();
    }

    juce::StringArray getOutputNames() override { return layer.getOutputNames(); }
    std::unique_ptr<vfu::MidiInputConnection> openInput (int index, vfu::MidiReceiver& receiver) override
    {
        return layer.openInput (index, receiver);
    }
    std::unique_ptr<vfu::MidiOutputConnection> openOutput (int index) override { return layer.openOutput (index); }

private:
    vfu::VirtualMidiLayer& layer;
    RecordingDevice& device;
    const int pauseMilliseconds;
    std::atomic<bool> vanished{ false };
};
} // namespace

TEST (FirmwareTransfer, a_break_found_by_the_check_that_ran_while_the_first_packet_was_counted_is_logged)
{
    // Real-time pacing: the first packet's 98 ms pause is still running when the engine reads the
    // byte count for its first pass, and is over when that pass's port check returns.
    vfu::LogCollector log;
    const auto folder = createTemporaryFolder ("breakcount");
    writePackage (folder, "1.0.0", { { "test-fw-1.0.0.syx", makeImage (256 * 8) } });

    vfu::ScaledClock clock (1.0);
    vfu::VirtualMidiLayer layer (clock);
    auto& device = layer.addDevice ("Test Port", std::make_unique<RecordingDevice>());
    PortsVanishDuringCheck checkedLayer (layer, device, 98);
    MIDIPortsSelector selector (checkedLayer, clock);
    selector.selectInputPort ("Test Port");
    selector.selectOutputPort ("Test Port");
    RecordingCallback callback (clock);

    vfu::UpdaterEnvironment environment;
    environment.portsSelector = &selector;
    environment.clock = &clock;
    environment.programFile = juce::File();
    FirmwareUpdater updater (makeDocument (downloadState ("<SendSysEx messageKind=\"test-fw-$(version)\"/>")), "Test",
                             false, &callback, { folder }, environment);
    ASSERT_TRUE (updater.setFirmwareVersion ("1.0.0"));
    updater.startThread();

    ASSERT_TRUE (runMessageLoopUntil ([&] { return callback.indexOf ("printMessage|after|false") >= 0; }, 20000));
    updater.stopThread (2000);
    EXPECT_TRUE (log.contains ("Connection break !!!"));
}

TEST (FirmwareTransfer, the_inquiry_2_after_a_transfer_follows_the_state_s_list_and_the_other_inquiry_the_instruction_s)
{
    // The recording device answers no inquiry, so the post-send poll finds no device.
    const std::pair<const char*, const char*> cases[] = { { "midi device INQUIRY 2", "Gone" },
                                                          { "MIDI Device inquiry", "Done" } };

    for (const auto& [mode, expected] : cases)
    {
        const auto send = "<SendSysEx messageKind=\"test-fw-$(version)\" endPollingMode=\"" + juce::String (mode) +
                          "\"><PollingState value=\"No device\" gotoState=\"Done\"/></SendSysEx>";
        TransferFixture f (
            "<State name=\"A\" pollingMode=\"none\"><PollingState value=\"No device\" gotoState=\"Gone\"/>" + send +
                "</State><State name=\"Done\" pollingMode=\"none\"/><State name=\"Gone\" pollingMode=\"none\"/>",
            300);
        f.harness.updater->startThread();

        EXPECT_TRUE (f.harness.waitForState (expected)) << mode;
        f.harness.updater->stopThread (2000);
        EXPECT_FALSE (f.harness.callback.hasEntered (juce::String (expected) == "Gone" ? "Done" : "Gone")) << mode;
    }
}
