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
