// The erase command goes out only while the selected package can still be sent whole: a package
// that lost an image after it was chosen leaves the instrument as it is.
#include "EngineTestSupport.h"

#include "core/Log.h"
#include "packages/FirmwarePackageStore.h"

#include <gtest/gtest.h>

using namespace vfu::test;

namespace
{
juce::MemoryBlock smallImage()
{
    juce::MemoryBlock image (64, true);
    image[0] = (char) 0xf0;
    image[63] = (char) 0xf7;
    return image;
}

const juce::String eraseThenSend = "<State name=\"A\" pollingMode=\"none\">"
                                   "<SendSysEx messageKind=\"erase\"/>"
                                   "<SendSysEx messageKind=\"test-fw-$(version)\" packetSize=\"32\"/>"
                                   "<Print text=\"after\"/></State>";
} // namespace

TEST (EraseGuard, the_erase_is_not_sent_when_the_selected_package_no_longer_holds_the_image)
{
    for (const bool packageStaysWhole : { true, false })
    {
        vfu::LogCollector log;
        const auto folder = createTemporaryFolder ("erase-guard");
        const auto package = writePackage (folder, "1.0.0", { { "test-fw-1.0.0.syx", smallImage() } });
        EngineHarness harness (makeDocument (eraseThenSend), 500.0, { folder });
        auto& device = harness.addChosenRecordingDevice();
        ASSERT_TRUE (harness.updater->setFirmwareVersion ("1.0.0"));

        // Overwritten in place after it was chosen by a package of the same version without the image.
        if (!packageStaysWhole)
        {
            const auto other =
                vfu::ArchiveWriter::createPackage ("test-fw-1.0.0", { { "something-else.syx", smallImage() } });
            juce::FileOutputStream out (package);
            ASSERT_TRUE (out.openedOk() && out.setPosition (0) && out.truncate().wasOk());
            ASSERT_TRUE (out.write (other.getData(), other.getSize()));
        }

        harness.updater->startThread();
        ASSERT_TRUE (
            harness.waitFor ([&] { return harness.callback.indexOf ("printMessage|after|false") >= 0; }, 60000));
        harness.updater->stopThread (2000);

        const auto messages = device.getMessages();
        if (packageStaysWhole)
        {
            ASSERT_EQ (messages.size(), 3u); // the erase and two packets
            EXPECT_EQ (messages[0].getRawDataSize(), 5);
        }
        else
        {
            EXPECT_TRUE (messages.empty());
            EXPECT_TRUE (log.contains ("SendSysEx 'erase' : not sent, the selected package no longer passes its check "
                                       "(required image missing: test-fw-1.0.0.syx)"))
                << log.getLines().joinIntoString ("\n");
        }
    }
}

TEST (EraseGuard, collection_offers_only_packages_that_hold_every_image_the_machine_sends)
{
    const auto folder = createTemporaryFolder ("erase-guard-collect");
    writePackage (folder, "1.0.0", { { "test-fw-1.0.0.syx", smallImage() } });
    writePackage (folder, "2.0.0", { { "other-fw-2.0.0.syx", smallImage() } });
    EngineHarness harness (makeDocument (eraseThenSend), 500.0, { folder });

    EXPECT_EQ (harness.updater->getFirmwareVersions(), juce::StringArray ("1.0.0"));
    EXPECT_FALSE (harness.updater->setFirmwareVersion ("2.0.0"));
    EXPECT_EQ (harness.updater->getPackageStore().getRequiredImages(), juce::StringArray ("test-fw-$(version)"));
}

namespace
{
// Records the image the host sends (not its inquiries) and runs `onErase` on the engine thread as the erase arrives,
// before anything after it is sent.
class EraseHookDevice final : public vfu::VirtualMidiLayer::Device
{
public:
    void receiveFromHost (const juce::MidiMessage& message) override
    {
        const auto* raw = message.getRawData();
        if (message.getRawDataSize() == 5 && raw[3] == 0x11 && onErase)
            onErase();
        else if (message.getRawDataSize() != 5 && !(raw[0] == 0xf0 && raw[1] == 0x7e)) // not an inquiry
            image.append (raw, (size_t) message.getRawDataSize());
    }

    std::function<void()> onErase;
    juce::MemoryBlock image; // written on the engine thread, read once it has stopped
};

void overwrite (const juce::File& file, const juce::MemoryBlock& data)
{
    juce::FileOutputStream out (file);
    ASSERT_TRUE (out.openedOk() && out.setPosition (0) && out.truncate().wasOk());
    ASSERT_TRUE (out.write (data.getData(), data.getSize()));
}

juce::MemoryBlock imageOf (int seed)
{
    auto image = smallImage();
    image[1] = (char) seed;
    return image;
}

EraseHookDevice& addHookDevice (EngineHarness& harness)
{
    auto& device = harness.layer.addDevice ("Hook Port", std::make_unique<EraseHookDevice>());
    harness.selector.selectInputPort ("Hook Port");
    harness.selector.selectOutputPort ("Hook Port");
    return device;
}
} // namespace

TEST (EraseGuard, the_image_sent_after_the_erase_is_the_one_checked_before_it_whatever_the_package_becomes)
{
    // Overwritten in place as the erase goes out: by a valid package of the same version with
    // another image, and by bytes that are no package at all.
    const auto otherPackage =
        vfu::ArchiveWriter::createPackage ("test-fw-1.0.0", { { "test-fw-1.0.0.syx", imageOf (2) } });
    for (const auto& replacement : { otherPackage, juce::MemoryBlock ("not a package", 13) })
    {
        const auto folder = createTemporaryFolder ("erase-guard-checked");
        const auto package = writePackage (folder, "1.0.0", { { "test-fw-1.0.0.syx", imageOf (1) } });
        EngineHarness harness (makeDocument (eraseThenSend), 500.0, { folder });
        auto& device = addHookDevice (harness);
        device.onErase = [&] { overwrite (package, replacement); };
        ASSERT_TRUE (harness.updater->setFirmwareVersion ("1.0.0"));

        harness.updater->startThread();
        ASSERT_TRUE (harness.waitFor ([&] { return harness.callback.indexOf ("printMessage|after|false") >= 0; }));
        harness.updater->stopThread (2000);
        EXPECT_EQ (device.image, imageOf (1)) << replacement.getSize();
    }
}

TEST (EraseGuard, a_transfer_that_cannot_send_the_checked_image_after_the_erase_reaches_the_machines_error)
{
    // The selection moves to another package as the erase goes out: its image was not the one
    // checked, so nothing is sent, the user is told, and the instrument's answer (none: "No device")
    // leads on, instead of the transfer state waiting with nothing to send.
    const juce::String document =
        "<State name=\"A\" pollingMode=\"none\"><SendSysEx messageKind=\"erase\"/>"
        "<GotoState state=\"B\"/></State>"
        "<State name=\"B\" pollingMode=\"MIDI ports\">"
        "<SendSysEx messageKind=\"test-fw-$(version)\" endPollingMode=\"MIDI Device inquiry\">"
        "<PollingState value=\"No device\" gotoState=\"Error\"/></SendSysEx>"
        "<PollingState value=\"No device\" gotoState=\"Error\"/></State>"
        "<State name=\"Error\" pollingMode=\"none\"/>";
    const auto folder = createTemporaryFolder ("erase-guard-unavailable");
    writePackage (folder, "1.0.0", { { "test-fw-1.0.0.syx", imageOf (1) } });
    const auto second = writePackage (folder, "2.0.0", { { "test-fw-2.0.0.syx", imageOf (2) } });
    EngineHarness harness (makeDocument (document), 100.0, { folder });
    auto& device = addHookDevice (harness);
    device.onErase = [&]
    {
        harness.updater->setFirmwareVersion ("2.0.0");
        overwrite (second, juce::MemoryBlock ("gone", 4));
    };
    ASSERT_TRUE (harness.updater->setFirmwareVersion ("1.0.0"));

    harness.updater->startThread();
    EXPECT_TRUE (harness.waitForState ("Error"));
    harness.updater->stopThread (2000);
    EXPECT_TRUE (device.image.isEmpty());
    EXPECT_GE (harness.callback.indexOf ("warningShown|The firmware could not be sent (the selected version is no "
                                         "longer 1.0.0, whose images were checked). The instrument may be waiting "
                                         "for its firmware: try the update again."),
               0)
        << harness.callback.getLines().joinIntoString ("\n");
}
