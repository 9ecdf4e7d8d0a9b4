// A package that disappears or is emptied between collection and transfer: what is sent is never
// anything but the bytes the checksum list vouched for, and an emptied package fails the transfer.
#include "PackageTestSupport.h"

#include "packages/DeliveredPackage.h"
#include "simulation/SimulatedUpdate.h"
#include "support/MessageLoop.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <atomic>

using vfu::FirmwarePackageStore;

namespace
{
juce::File writeDelivered (const juce::String& prefix)
{
    const auto folder = vfu::test::createTemporaryFolder (prefix);
    const auto data = vfu::DeliveredPackage::createPackage();
    return vfu::test::packages::writeFile (folder.getChildFile (vfu::DeliveredPackage::packageFileName), data);
}

FirmwarePackageStore::ImageReadResult readImage (const FirmwarePackageStore& store, juce::MemoryBlock& image)
{
    juce::String entryName, versionText;
    return store.readSelectedImage ("quillbox-fw-$(version)", image, entryName, versionText);
}

void emptyInPlace (const juce::File& file)
{
    juce::FileOutputStream out (file);
    ASSERT_TRUE (out.openedOk());
    ASSERT_TRUE (out.setPosition (0));
    ASSERT_TRUE (out.truncate().wasOk());
}

// Records whether a text ever showed in the instructions field, and the states passed.
class InstructionsWatcher final : public FirmwareUpdaterCallback
{
public:
    explicit InstructionsWatcher (juce::String successToWatch) : success (std::move (successToWatch)) {}

    void stateChanged (juce::String, juce::String newState) override
    {
        states.add (newState);
        if (newState == "Firmware erase")
            eraseEntered = true;
    }
    void textFieldChanged (juce::String, juce::String text, bool visible) override
    {
        if (visible && text == success)
            successShown = true;
    }
    void buttonChanged (juce::String, juce::String, bool) override {}
    void printMessage (juce::String, bool) override {}
    void progressChanged (double) override {}

    const juce::String success;
    juce::StringArray states; // message thread only
    std::atomic<bool> eraseEntered{ false }, successShown{ false };
};
} // namespace

TEST (VanishingPackage, a_deleted_package_still_open_gives_only_the_checked_bytes)
{
    const auto file = writeDelivered ("deleted");
    FirmwarePackageStore store;
    store.collect ({}, { file.getParentDirectory() });
    ASSERT_TRUE (store.setFirmwareVersion ("2.2.1"));

    juce::MemoryBlock before;
    ASSERT_EQ (readImage (store, before), FirmwarePackageStore::ImageReadResult::ok);

    ASSERT_TRUE (file.deleteFile());
    // The open stream keeps the collected file; whatever it yields is checked again before use.
    juce::MemoryBlock after;
    const auto result = readImage (store, after);
    if (result == FirmwarePackageStore::ImageReadResult::ok)
        EXPECT_EQ (after, before);
    else
        EXPECT_EQ (after.getSize(), 0u);
}

TEST (VanishingPackage, a_package_emptied_after_collection_yields_no_image)
{
    const auto file = writeDelivered ("emptied");
    FirmwarePackageStore store;
    store.collect ({}, { file.getParentDirectory() });
    ASSERT_TRUE (store.setFirmwareVersion ("2.2.1"));

    emptyInPlace (file);

    juce::MemoryBlock image;
    EXPECT_EQ (readImage (store, image), FirmwarePackageStore::ImageReadResult::packageCheckFailed);
    EXPECT_EQ (image.getSize(), 0u);
}

TEST (VanishingPackage, an_update_whose_package_is_emptied_during_the_erase_never_reports_success)
{
    const auto file = writeDelivered ("emptied-update");
    InstructionsWatcher watcher ("Update completed successfully.");

    vfu::simulation::InstrumentSettings settings;
    settings.model = vfu::simulation::Model::quillbox;
    settings.firmwareVersion = "2.1.0";

    vfu::SimulatedUpdate::Options options;
    options.packageFiles.add (file);
    options.speed = 50.0;
    vfu::SimulatedUpdate update (settings, options, &watcher);
    ASSERT_TRUE (update.getProblem().isEmpty()) << update.getProblem();

    update.getUpdater().startThread();
    ASSERT_TRUE (vfu::test::runMessageLoopUntil ([&] { return watcher.eraseEntered.load(); }, 120000));
    emptyInPlace (file);

    // The transfer has nothing to send. The ports stay present, so "Firmware download" neither moves
    // on nor times out: it must never show success, and Cancel must still lead out of it.
    ASSERT_TRUE (
        vfu::test::runMessageLoopUntil ([&] { return watcher.states.contains ("Firmware download"); }, 120000));
    vfu::test::runMessageLoopFor (1000);
    EXPECT_FALSE (watcher.successShown.load()) << watcher.states.joinIntoString (" > ");

    update.getUpdater().buttonPressed ("InstallCancel");
    const bool cancelled =
        vfu::test::runMessageLoopUntil ([&] { return watcher.states.contains ("Update cancelled"); }, 120000);
    update.getUpdater().stopThread (5000);

    EXPECT_TRUE (cancelled) << watcher.states.joinIntoString (" > ");
    EXPECT_FALSE (watcher.successShown.load()) << watcher.states.joinIntoString (" > ");
    EXPECT_NE (update.getInstrument().getInstalledVersion(), "2.2.1");
}
