#include "midi/MidiTestSupport.h"
#include "packages/FirmwareImage.h"
#include "simulation/SimulatedUser.h"

using namespace vfu;
using namespace vfu::simulation;
using vfu::test::pollOnWorker;

namespace
{
struct SimulatedInstrumentTest : public ::testing::Test
{
    // Waits (real time, generously) until the condition holds.
    static bool eventually (std::function<bool()> condition)
    {
        const auto end = juce::Time::getMillisecondCounter() + 20000;
        while (!condition())
        {
            if (juce::Time::getMillisecondCounter() > end)
                return false;
            juce::Thread::sleep (2);
        }
        return true;
    }

    // Sends the bytes on the instrument's output in packets cut without regard to message bounds, as
    // the firmware sender does.
    static void sendInPackets (Simulation& simulation, const juce::MemoryBlock& image, size_t packetSize = 256)
    {
        auto& layer = simulation.getLayer();
        auto output = layer.openOutput (layer.getOutputNames().indexOf (simulation.getInstrument().getPortName()));
        ASSERT_NE (output, nullptr);

        const auto* data = static_cast<const juce::uint8*> (image.getData());
        for (size_t pos = 0; pos < image.getSize(); pos += packetSize)
            output->sendMessageNow (
                juce::MidiMessage (data + pos, (int) juce::jmin (packetSize, image.getSize() - pos)));
    }

    static InstrumentSettings settings (Model model, bool bootloader = false)
    {
        InstrumentSettings s;
        s.model = model;
        s.startInBootloader = bootloader;
        s.restartMs = 500;
        s.eraseMs = 700;
        return s;
    }

    PollResult poll (Simulation& simulation, bool checkPanelMode = false)
    {
        MIDIPortsSelector selector (simulation.getLayer(), clock);
        const auto result = pollOnWorker (
            [&] { return selector.pollDevice (simulation.getInstrument().getDeviceId(), checkPanelMode); });
        lastVersion = selector.getFirmwareVersion();
        return result;
    }

    ScaledClock clock{ vfu::test::testClockSpeed };
    LogCollector log;
    juce::String lastVersion;
};
} // namespace

TEST (FirmwareImage, is_deterministic_exactly_sized_and_passes_its_own_check)
{
    const auto image = FirmwareImage::generate (0x0008, "2.2.1", 359267);
    ASSERT_EQ (image.getSize(), 359267u);
    EXPECT_EQ (image, FirmwareImage::generate (0x0008, "2.2.1", 359267));
    EXPECT_NE (image, FirmwareImage::generate (0x0008, "2.2.0", 359267));

    const auto* bytes = static_cast<const juce::uint8*> (image.getData());
    EXPECT_EQ (juce::String::toHexString (bytes, 4), "f0 04 08 70");
    EXPECT_EQ (bytes[image.getSize() - 1], 0xF7);

    const auto contents = FirmwareImage::inspect (image.getData(), image.getSize());
    EXPECT_TRUE (contents.valid) << contents.problem;
    EXPECT_EQ (contents.deviceId, 0x08);
    EXPECT_EQ (contents.versionNumber, 2020199);

    EXPECT_TRUE (FirmwareImage::inspect (FirmwareImage::generate (0x000C, "1.1.0p3", 14).getData(), 14).valid);
    EXPECT_EQ (FirmwareImage::generate (0x000C, "1.1.0", 13).getSize(), 0u);
}

TEST (FirmwareImage, rejects_cut_altered_and_foreign_data)
{
    auto image = FirmwareImage::generate (0x000B, "1.0.9", 1000);

    EXPECT_FALSE (FirmwareImage::inspect (image.getData(), 999).valid);
    EXPECT_FALSE (FirmwareImage::inspect (image.getData(), 5).valid);
    EXPECT_FALSE (FirmwareImage::inspect (nullptr, 0).valid);

    auto altered = image;
    static_cast<juce::uint8*> (altered.getData())[500] ^= 0x01;
    const auto contents = FirmwareImage::inspect (altered.getData(), altered.getSize());
    EXPECT_FALSE (contents.valid);
    EXPECT_EQ (contents.problem, "checksum mismatch");

    auto withStatus = image;
    static_cast<juce::uint8*> (withStatus.getData())[300] = 0x90;
    EXPECT_FALSE (FirmwareImage::inspect (withStatus.getData(), withStatus.getSize()).valid);
}

TEST_F (SimulatedInstrumentTest, encodes_each_models_version_as_the_selector_decodes_it)
{
    for (auto [model, version] : { std::pair<Model, const char*>{ Model::quillbox, "2.2.1" },
                                   { Model::quillbox, "163.8.3" },
                                   { Model::lumostrel, "1.0.7" },
                                   { Model::lumostrel, "1.2.3p4" },
                                   { Model::orb26, "1.1.0p1" },
                                   { Model::orb26, "0.63.7" } })
    {
        auto s = settings (model);
        s.firmwareVersion = version;
        Simulation simulation (s, 0, clock);
        EXPECT_EQ (poll (simulation), DeviceDetected);
        EXPECT_EQ (lastVersion, version);
    }

    EXPECT_FALSE (encodeVersion (Model::quillbox, "1.1.0p1"));
    EXPECT_FALSE (encodeVersion (Model::quillbox, "1.10.0"));
    EXPECT_FALSE (encodeVersion (Model::orb26, "1.1.0p0"));
    EXPECT_FALSE (encodeVersion (Model::orb26, "0.1.63"));
    EXPECT_FALSE (encodeVersion (Model::lumostrel, "0.63.1"));
    EXPECT_FALSE (encodeVersion (Model::lumostrel, "1.128.0"));
    EXPECT_FALSE (encodeVersion (Model::lumostrel, "1.0"));
}

TEST_F (SimulatedInstrumentTest, restarts_into_the_bootloader_off_the_port_lists_and_back)
{
    Simulation simulation (settings (Model::quillbox), 1, clock);
    auto& instrument = simulation.getInstrument();
    auto& layer = simulation.getLayer();

    instrument.pressBootloaderCombination (200);
    EXPECT_TRUE (eventually ([&] { return !layer.arePortsPresent ("Quillbox"); }));
    EXPECT_EQ (layer.getInputNames(), juce::StringArray ({ "Silent port 1" }));
    EXPECT_TRUE (eventually ([&] { return layer.arePortsPresent ("Quillbox"); }));
    EXPECT_EQ (instrument.getMode(), Mode::bootloader);
    EXPECT_EQ (poll (simulation), BootloaderDetected);
    EXPECT_EQ (lastVersion, "");

    instrument.powerCycle();
    EXPECT_TRUE (eventually ([&] { return instrument.getMode() == Mode::firmware; }));
    EXPECT_EQ (poll (simulation), DeviceDetected);
}

TEST_F (SimulatedInstrumentTest, installs_a_full_image_sent_in_packets_and_restarts_into_its_version)
{
    Simulation simulation (settings (Model::quillbox, true), 0, clock);
    auto& instrument = simulation.getInstrument();

    const auto image = FirmwareImage::generate (0x0008, "2.2.1", 4000);
    sendInPackets (simulation, image);

    EXPECT_EQ (instrument.getReceivedImage(), image);
    EXPECT_EQ (instrument.getLastImageProblem(), "");
    EXPECT_TRUE (instrument.holdsValidFirmware());
    EXPECT_EQ (instrument.getInstalledVersion(), "2.2.1");
    EXPECT_EQ (instrument.getMode(), Mode::absent);

    EXPECT_TRUE (eventually ([&] { return instrument.getMode() == Mode::firmware; }));
    EXPECT_EQ (poll (simulation), DeviceDetected);
    EXPECT_EQ (lastVersion, "2.2.1");
    EXPECT_EQ (instrument.getImagesInstalled(), 1);
}

TEST_F (SimulatedInstrumentTest, stays_in_its_bootloader_after_a_corrupt_cut_or_foreign_image)
{
    Simulation simulation (settings (Model::lumostrel, true), 0, clock);
    auto& instrument = simulation.getInstrument();

    auto corrupt = FirmwareImage::generate (0x000B, "1.1.0", 2000);
    static_cast<juce::uint8*> (corrupt.getData())[1000] ^= 0x02;
    sendInPackets (simulation, corrupt);
    EXPECT_EQ (instrument.getLastImageProblem(), "checksum mismatch");

    // Another device's image does not even start a transfer for this one.
    const auto foreign = FirmwareImage::generate (0x0008, "2.2.1", 2000);
    sendInPackets (simulation, foreign);

    // Cut short: the next message starts before the F7.
    const auto image = FirmwareImage::generate (0x000B, "1.1.0", 2000);
    sendInPackets (simulation, juce::MemoryBlock (image.getData(), 1500));
    sendInPackets (simulation, juce::MemoryBlock (MIDIPortsSelector::getIdentityRequest().getRawData(), 6));
    EXPECT_EQ (instrument.getLastImageProblem(), "transfer cut short by a new message");
    EXPECT_EQ (instrument.getReceivedImage().getSize(), 1500u);

    EXPECT_FALSE (instrument.holdsValidFirmware());
    EXPECT_EQ (instrument.getMode(), Mode::bootloader);
    EXPECT_EQ (instrument.getImagesInstalled(), 0);
    EXPECT_EQ (poll (simulation), BootloaderDetected);
}

TEST_F (SimulatedInstrumentTest, erase_takes_it_off_the_ports_and_back_as_an_empty_bootloader)
{
    Simulation simulation (settings (Model::quillbox, true), 0, clock);
    auto& instrument = simulation.getInstrument();

    sendInPackets (simulation, juce::MemoryBlock ("\xF0\x04\x08\x11\xF7", 5));
    EXPECT_EQ (instrument.getErases(), 1);
    EXPECT_FALSE (simulation.getLayer().arePortsPresent ("Quillbox"));
    EXPECT_EQ (instrument.getInstalledVersion(), "");
    EXPECT_TRUE (eventually ([&] { return instrument.getMode() == Mode::bootloader; }));
    EXPECT_EQ (poll (simulation), BootloaderDetected);

    // The running firmware ignores an erase.
    Simulation running (settings (Model::quillbox), 0, clock);
    sendInPackets (running, juce::MemoryBlock ("\xF0\x04\x08\x11\xF7", 5));
    EXPECT_EQ (running.getInstrument().getErases(), 0);
    EXPECT_EQ (running.getInstrument().getMode(), Mode::firmware);
}

TEST_F (SimulatedInstrumentTest, vanishes_during_a_transfer_and_may_never_come_back)
{
    auto s = settings (Model::quillbox, true);
    s.faults.vanishAfterTransferBytes = 1000;
    Simulation simulation (s, 0, clock);
    auto& instrument = simulation.getInstrument();

    sendInPackets (simulation, FirmwareImage::generate (0x0008, "2.2.1", 4000));
    EXPECT_EQ (instrument.getReceivedImage().getSize(), 1000u);
    EXPECT_FALSE (instrument.holdsValidFirmware());
    EXPECT_TRUE (eventually ([&] { return instrument.getMode() == Mode::bootloader; }));

    auto faults = instrument.getFaults();
    faults.neverComeBack = true;
    instrument.setFaults (faults);
    instrument.pressBootloaderCombination();
    clock.sleep (3000);
    EXPECT_EQ (instrument.getMode(), Mode::absent);
    EXPECT_TRUE (simulation.getLayer().getOutputNames().isEmpty());
}

TEST_F (SimulatedInstrumentTest, a_connection_break_happens_once_and_the_next_transfer_completes)
{
    auto s = settings (Model::quillbox, true);
    s.faults.vanishAfterTransferBytes = 1000;
    Simulation simulation (s, 0, clock);
    auto& instrument = simulation.getInstrument();
    const auto image = FirmwareImage::generate (0x0008, "2.2.1", 4000);

    sendInPackets (simulation, image);
    ASSERT_TRUE (eventually ([&] { return instrument.getMode() == Mode::bootloader; }));
    EXPECT_FALSE (instrument.holdsValidFirmware());

    sendInPackets (simulation, image);
    EXPECT_EQ (instrument.getReceivedImage(), image);
    EXPECT_TRUE (eventually ([&] { return instrument.getMode() == Mode::firmware; }));
    EXPECT_EQ (instrument.getInstalledVersion(), "2.2.1");
}

TEST_F (SimulatedInstrumentTest,
        orb26_panel_reports_erased_after_the_third_image_and_sending_then_succeeded_for_the_fourth)
{
    auto s = settings (Model::orb26);
    s.firmwareVersion = "1.1.0";
    Simulation simulation (s, 0, clock);
    auto& instrument = simulation.getInstrument();
    MIDIPortsSelector selector (simulation.getLayer(), clock);
    ASSERT_EQ (pollOnWorker ([&] { return selector.pollDevice (0x000C, false); }), DeviceDetected);

    const auto image = FirmwareImage::generate (0x000C, "1.1.0", 3000);
    sendInPackets (simulation, image); // the panel erase image
    EXPECT_EQ (instrument.getPanelStateByte(), 1);
    EXPECT_EQ (pollOnWorker ([&] { return selector.queryPanelState(); }), PanelErased);

    sendInPackets (simulation, juce::MemoryBlock (image.getData(), 1000)); // the panel image, under way
    EXPECT_EQ (instrument.getPanelStateByte(), 2);
    EXPECT_EQ (pollOnWorker ([&] { return selector.queryPanelState(); }), PanelFirmwareSending);

    // The query broke the transfer off: the panel stays half written until a full image arrives.
    EXPECT_EQ (instrument.getPanelStateByte(), 2);
    sendInPackets (simulation, image);
    EXPECT_EQ (pollOnWorker ([&] { return selector.queryPanelState(); }), PanelFirmwareSucceeded);
    EXPECT_EQ (instrument.getMode(), Mode::firmware);
    EXPECT_EQ (instrument.getInstalledVersion(), "1.1.0");

    // A corrupt panel image fails the panel update.
    instrument.setPanelStateByte (1);
    auto corrupt = image;
    static_cast<juce::uint8*> (corrupt.getData())[100] ^= 0x01;
    sendInPackets (simulation, corrupt);
    EXPECT_EQ (instrument.getPanelStateByte(), 5);
}

TEST_F (SimulatedInstrumentTest, only_the_normal_orb26_firmware_answers_the_alternative_inquiry)
{
    Simulation orbBootloader (settings (Model::orb26, true), 0, clock);
    EXPECT_EQ (poll (orbBootloader), BootloaderDetected);
    EXPECT_EQ (lastVersion, "1.0.9"); // identity answered just as the firmware does

    Simulation orbFirmware (settings (Model::orb26), 0, clock);
    EXPECT_EQ (poll (orbFirmware), DeviceDetected);
}

TEST (SimulationSpec, reads_model_version_bootloader_and_panel)
{
    juce::String error;
    auto spec = SimulationSpec::parse ("Orb26:1.1.0p1:panel=1", error);
    ASSERT_TRUE (spec) << error;
    EXPECT_EQ (spec->model, Model::orb26);
    EXPECT_EQ (spec->version, "1.1.0p1");
    EXPECT_EQ (spec->panelStateByte, 1);
    EXPECT_FALSE (spec->bootloader);

    spec = SimulationSpec::parse ("quillbox:bootloader", error);
    ASSERT_TRUE (spec);
    EXPECT_TRUE (spec->bootloader);
    EXPECT_EQ (spec->version, "2.1.0");
    EXPECT_EQ (SimulationSpec::parse ("lumostrel", error)->version, "1.0.9");

    for (auto bad : { "", "synth", "quillbox:1.1.0p2", "lumostrel:panel=1", "orb26:panel=9", "orb26:1.0.9:1.0.8",
                      "quillbox:fast" })
    {
        EXPECT_FALSE (SimulationSpec::parse (bad, error)) << bad;
        EXPECT_TRUE (error.isNotEmpty());
    }
}

TEST_F (SimulatedInstrumentTest, the_simulated_user_restarts_into_the_bootloader_when_the_instructions_ask)
{
    Simulation simulation (settings (Model::lumostrel), 0, clock);
    auto& instrument = simulation.getInstrument();
    SimulatedUser user (instrument, 300);

    user.instructionsShown ("Idle, no device");
    user.instructionsShown ("Idle, bootloader detected"); // asks for Install, not a restart
    clock.sleep (500);
    EXPECT_EQ (user.getRestartsMade(), 0);

    user.instructionsShown ("Idle, device detected");
    user.instructionsShown ("Idle, device detected"); // the same state again: one reaction
    EXPECT_TRUE (eventually ([&] { return user.getRestartsMade() == 1; }));
    EXPECT_TRUE (eventually ([&] { return instrument.getMode() == Mode::bootloader; }));
    clock.sleep (500);
    EXPECT_EQ (user.getRestartsMade(), 1);

    EXPECT_TRUE (SimulatedUser::asksForBootloader (Model::orb26, "Idle, bootloader detected"));
    EXPECT_FALSE (SimulatedUser::asksForBootloader (Model::quillbox, "Idle, bootloader detected"));
}
