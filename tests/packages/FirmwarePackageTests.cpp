// The package check and the package table: digests, checksum lists, versions from entry names,
// ordering, later sources winning, and the selection that transfers read.
#include "PackageTestSupport.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace vfu::test::packages;
using vfu::FirmwarePackageStore;

namespace
{
juce::String checksumLine (const juce::String& digest, const juce::String& name)
{
    return digest + " *" + name + "\n";
}

// A package "quillbox-fw-<version>.vfw" in the folder; its image encodes the version in its size.
juce::File writeVersionPackage (const juce::File& folder, const juce::String& version, size_t imageSize = 300)
{
    const auto baseName = "quillbox-fw-" + version;
    return writeFile (folder.getChildFile (baseName + ".vfw"),
                      makePackage (baseName, baseName + ".syx", makeImage (1, imageSize)));
}
} // namespace

TEST (FirmwarePackageCheck, accepts_a_package_whose_checksum_list_has_the_digest_in_upper_case)
{
    const auto image = makeImage (1);
    const auto package =
        makeArchive ({ { "quillbox-fw-2.2.1.sha",
                         textBlock (checksumLine (digestOf (image).toUpperCase(), "quillbox-fw-2.2.1.syx")) },
                       { "quillbox-fw-2.2.1.syx", image } });
    EXPECT_EQ (check (package), 2020199);
}

TEST (FirmwarePackageCheck, rejects_a_package_whose_image_was_changed_by_one_byte)
{
    auto image = makeImage (1);
    const auto sha = checksumLine (digestOf (image), "quillbox-fw-2.2.1.syx");
    static_cast<char*> (image.getData())[150] ^= 1;

    const auto package =
        makeArchive ({ { "quillbox-fw-2.2.1.sha", textBlock (sha) }, { "quillbox-fw-2.2.1.syx", image } });
    EXPECT_EQ (check (package), -1);
    EXPECT_EQ (rejectionOf (package), "digest mismatch: quillbox-fw-2.2.1.syx");
}

TEST (FirmwarePackageCheck, rejects_a_package_with_two_images_when_the_checksum_list_names_only_one)
{
    const auto a = makeImage (1), b = makeImage (2);
    const auto package = makeArchive (
        { { "a.syx", a }, { "b.syx", b }, { "pkg-1.0.0.sha", textBlock (checksumLine (digestOf (a), "a.syx")) } });
    EXPECT_EQ (rejectionOf (package), "image missing from the checksum list: b.syx");
}

TEST (FirmwarePackageCheck, rejects_a_checksum_entry_named_without_a_dash_or_fw_dot)
{
    const auto image = makeImage (1);
    const auto package =
        makeArchive ({ { "image.sha", textBlock (checksumLine (digestOf (image), "x.syx")) }, { "x.syx", image } });
    EXPECT_EQ (check (package), -1);
    EXPECT_EQ (rejectionOf (package), "no version in the checksum entry's name");
}

TEST (FirmwarePackageCheck, takes_the_version_from_the_checksum_entry_name)
{
    EXPECT_EQ (FirmwarePackageStore::versionFromChecksumEntryName ("quillbox-fw-2.2.1.sha"), 2020199);
    EXPECT_EQ (FirmwarePackageStore::versionFromChecksumEntryName ("fw.1.1.0p0.sha"), 1010000);
    EXPECT_EQ (FirmwarePackageStore::versionFromChecksumEntryName ("old\\orb-3.0.2.sha"), 3000299);
    EXPECT_EQ (FirmwarePackageStore::versionFromChecksumEntryName ("image.sha"), -1);
    EXPECT_EQ (FirmwarePackageStore::versionFromChecksumEntryName ("image"), -1);
}

TEST (FirmwarePackageCheck, needs_a_checksum_list_but_no_image)
{
    EXPECT_EQ (rejectionOf (makeArchive ({ { "a.syx", makeImage (1) } })), "no checksum list");
    EXPECT_EQ (check (makeArchive ({ { "pkg-1.2.3.sha", textBlock ("") } })), 1020399);
}

TEST (FirmwarePackageCheck, uses_the_last_checksum_list_for_digests_and_version)
{
    const auto image = makeImage (1);
    const auto line = textBlock (checksumLine (digestOf (image), "x.syx"));

    EXPECT_EQ (check (makeArchive ({ { "x.syx", image }, { "a-1.0.0.sha", line }, { "b-2.0.0.sha", line } })), 2000099);
    EXPECT_EQ (
        rejectionOf (makeArchive ({ { "x.syx", image }, { "a-1.0.0.sha", line }, { "b-2.0.0.sha", textBlock ("") } })),
        "image missing from the checksum list: x.syx");
}

TEST (FirmwarePackageCheck, finds_the_digest_just_before_the_first_mention_of_the_image)
{
    const auto image = makeImage (1);
    const auto digest = digestOf (image);

    // The name must start at least 66 characters in: here the first mention is too early.
    EXPECT_EQ (rejectionOf (makeArchive (
                   { { "x.syx", image }, { "p-1.0.0.sha", textBlock ("x.syx\n" + checksumLine (digest, "x.syx")) } })),
               "image missing from the checksum list: x.syx");

    // Two plain blanks separate digest and name as well as " *" does; other lines are ignored.
    EXPECT_EQ (check (makeArchive (
                   { { "x.syx", image }, { "p-1.0.0.sha", textBlock ("header line\n" + digest + "  x.syx\n") } })),
               1000099);
}

TEST (FirmwarePackageCheck, reads_a_package_from_a_stream)
{
    const auto package = makePackage ("quillbox-fw-2.2.1", "quillbox-fw-2.2.1.syx", makeImage (3));
    juce::MemoryInputStream stream (package, false);
    stream.skipNextBytes (10); // checkPackage reads from the start whatever the position
    EXPECT_EQ (FirmwarePackageStore::checkPackage (stream), 2020199);
}

TEST (FirmwarePackageStore, lists_versions_ascending_and_names_the_latest)
{
    const auto folder = vfu::test::createTemporaryFolder ("versions");
    writeVersionPackage (folder, "2.2.1");
    writeVersionPackage (folder, "1.1.0p0");
    writeFile (folder.getChildFile ("readme.txt"), textBlock ("not a package"));

    FirmwarePackageStore store;
    store.collect ({}, { folder });

    EXPECT_EQ (store.getFirmwareVersions(), juce::StringArray ("1.1.0p0", "2.2.1"));
    EXPECT_EQ (store.getLatestFirmwareVersion(), "2.2.1");
}

TEST (FirmwarePackageStore, is_empty_without_packages)
{
    FirmwarePackageStore store;
    store.collect ({}, { vfu::test::createTemporaryFolder ("empty") });

    EXPECT_TRUE (store.getFirmwareVersions().isEmpty());
    EXPECT_EQ (store.getLatestFirmwareVersion(), "");
    EXPECT_FALSE (store.setFirmwareVersion ("2.2.1"));
}

TEST (FirmwarePackageStore, keeps_the_package_of_the_later_source_for_an_equal_version)
{
    const auto first = vfu::test::createTemporaryFolder ("first");
    const auto second = vfu::test::createTemporaryFolder ("second");
    writeVersionPackage (first, "2.2.1", 300);
    const auto kept = writeVersionPackage (second, "2.2.1", 400);

    FirmwarePackageStore store;
    store.collect ({}, { first, second });
    ASSERT_TRUE (store.setFirmwareVersion ("2.2.1"));

    juce::MemoryBlock image;
    juce::String entryName, versionText;
    ASSERT_EQ (store.readSelectedImage ("quillbox-fw-$(version)", image, entryName, versionText),
               FirmwarePackageStore::ImageReadResult::ok);
    EXPECT_EQ (image.getSize(), 400u);

    const auto findings = store.getFindings();
    ASSERT_EQ (findings.size(), 2u);
    EXPECT_EQ (findings[0].reason, "replaced by " + kept.getFullPathName());
    EXPECT_EQ (findings[1].source, kept.getFullPathName());
    EXPECT_EQ (findings[1].reason, "");
}

TEST (FirmwarePackageStore, selects_only_an_exact_version_number)
{
    const auto folder = vfu::test::createTemporaryFolder ("select");
    writeVersionPackage (folder, "2.2.1");

    FirmwarePackageStore store;
    store.collect ({}, { folder });

    EXPECT_EQ (store.getSelectedVersionText(), "");
    EXPECT_TRUE (store.setFirmwareVersion ("2.2.1"));
    EXPECT_FALSE (store.setFirmwareVersion ("2.2.1.0")); // that is 2.2.1p0
    EXPECT_FALSE (store.setFirmwareVersion ("2.2.2"));
    EXPECT_EQ (store.getSelectedVersionText(), "2.2.1");
}

TEST (FirmwarePackageStore, reads_the_selected_image_with_the_version_substituted)
{
    const auto folder = vfu::test::createTemporaryFolder ("read");
    const auto image = makeImage (5, 1000);
    writeFile (folder.getChildFile ("p.vfw"), makePackage ("quillbox-fw-2.2.1", "quillbox-fw-2.2.1.syx", image));

    FirmwarePackageStore store;
    store.collect ({}, { folder });

    juce::MemoryBlock read;
    juce::String entryName, versionText;
    EXPECT_EQ (store.readSelectedImage ("quillbox-fw-$(version)", read, entryName, versionText),
               FirmwarePackageStore::ImageReadResult::noPackageSelected);

    ASSERT_TRUE (store.setFirmwareVersion ("2.2.1"));
    EXPECT_EQ (store.readSelectedImage ("quillbox-fw-$(version)", read, entryName, versionText),
               FirmwarePackageStore::ImageReadResult::ok);
    EXPECT_EQ (entryName, "quillbox-fw-2.2.1.syx");
    EXPECT_EQ (versionText, "2.2.1");
    EXPECT_EQ (read, image);

    EXPECT_EQ (store.readSelectedImage ("orb-fw-$(version)", read, entryName, versionText),
               FirmwarePackageStore::ImageReadResult::entryMissing);
    EXPECT_EQ (entryName, "orb-fw-2.2.1.syx");
    EXPECT_EQ (read.getSize(), 0u);
}

TEST (FirmwarePackageStore, refuses_an_image_whose_package_changed_on_disk_after_collection)
{
    const auto folder = vfu::test::createTemporaryFolder ("changed");
    const auto file = writeVersionPackage (folder, "2.2.1");

    FirmwarePackageStore store;
    store.collect ({}, { folder });
    ASSERT_TRUE (store.setFirmwareVersion ("2.2.1"));

    // Same names and sizes, but the image no longer matches its digest.
    auto altered = makeImage (1);
    static_cast<char*> (altered.getData())[10] ^= 1;
    // Written in place: a file replaced by a new one would leave the open stream on the old one.
    const auto tampered = makeArchive (
        { { "quillbox-fw-2.2.1.sha", textBlock (checksumLine (digestOf (makeImage (1)), "quillbox-fw-2.2.1.syx")) },
          { "quillbox-fw-2.2.1.syx", altered } });
    {
        juce::FileOutputStream out (file);
        ASSERT_TRUE (out.setPosition (0) && out.write (tampered.getData(), tampered.getSize()));
        ASSERT_TRUE (out.truncate().wasOk());
    }

    juce::MemoryBlock image;
    juce::String entryName, versionText, detail;
    EXPECT_EQ (store.readSelectedImage ("quillbox-fw-$(version)", image, entryName, versionText, &detail),
               FirmwarePackageStore::ImageReadResult::packageCheckFailed);
    EXPECT_EQ (detail, "digest mismatch: quillbox-fw-2.2.1.syx");
    EXPECT_EQ (image.getSize(), 0u);
}

TEST (FirmwarePackageStore, hands_image_and_version_over_together_while_the_selection_changes)
{
    // Each version's image has its own size, so a read that mixed one version's text with the
    // other's stream would show.
    const auto folder = vfu::test::createTemporaryFolder ("threads");
    writeVersionPackage (folder, "1.0.0", 300);
    writeVersionPackage (folder, "2.0.0", 500);

    FirmwarePackageStore store;
    store.collect ({}, { folder });
    ASSERT_TRUE (store.setFirmwareVersion ("1.0.0"));

    std::atomic<bool> stop{ false };
    std::atomic<int> mismatches{ 0 }, reads{ 0 };

    std::thread reader (
        [&]
        {
            while (!stop)
            {
                juce::MemoryBlock image;
                juce::String entryName, versionText;
                if (store.readSelectedImage ("quillbox-fw-$(version)", image, entryName, versionText) !=
                        FirmwarePackageStore::ImageReadResult::ok ||
                    image.getSize() != (versionText == "1.0.0" ? 300u : 500u))
                    ++mismatches;
                ++reads;
            }
        });

    for (int i = 0; i < 200 || reads < 20; ++i)
        ASSERT_TRUE (store.setFirmwareVersion (i % 2 == 0 ? "2.0.0" : "1.0.0"));

    stop = true;
    reader.join();
    EXPECT_EQ (mismatches, 0);
}
