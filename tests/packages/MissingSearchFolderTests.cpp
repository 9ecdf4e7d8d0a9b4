// Search folders that do not exist (a user without a desktop folder) or are files: collection
// notes them and carries on with the others.
#include "PackageTestSupport.h"

#include "packages/DeliveredPackage.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

using vfu::FirmwarePackageStore;

TEST (MissingSearchFolder, a_desktop_that_does_not_exist_is_noted_and_the_other_folders_still_count)
{
    const auto folder = vfu::test::createTemporaryFolder ("program-folder");
    vfu::test::packages::writeFile (folder.getChildFile (vfu::DeliveredPackage::packageFileName),
                                    vfu::DeliveredPackage::createPackage());
    const auto desktop = vfu::test::createTemporaryFolder ("home").getChildFile ("Desktop");
    ASSERT_FALSE (desktop.exists());

    FirmwarePackageStore store;
    store.collect ({}, { folder, desktop });

    EXPECT_EQ (store.getFirmwareVersions(), juce::StringArray ("2.2.1"));
    const auto findings = store.getFindings();
    ASSERT_EQ (findings.size(), 2u);
    EXPECT_EQ (findings[1].source, desktop.getFullPathName());
    EXPECT_EQ (findings[1].versionNumber, -1);
    EXPECT_EQ (findings[1].reason, "not found");
}

TEST (MissingSearchFolder, no_existing_folder_at_all_leaves_an_empty_store)
{
    const auto home = vfu::test::createTemporaryFolder ("no-folders");
    FirmwarePackageStore store;
    store.collect (home.getChildFile ("no-such-program"),
                   { home.getChildFile ("Desktop"), home.getChildFile ("a/b/c") });

    EXPECT_TRUE (store.getFirmwareVersions().isEmpty());
    EXPECT_TRUE (store.getLatestFirmwareVersion().isEmpty());
    EXPECT_FALSE (store.setFirmwareVersion ("2.2.1"));

    juce::MemoryBlock image;
    juce::String entryName, versionText;
    EXPECT_EQ (store.readSelectedImage ("quillbox-fw-$(version)", image, entryName, versionText),
               FirmwarePackageStore::ImageReadResult::noPackageSelected);
}
