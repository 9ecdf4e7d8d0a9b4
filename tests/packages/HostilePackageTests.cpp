// Damaged and hostile packages: every one is skipped with a reason, without a crash and without
// reading or allocating more than the limits allow.
#include "PackageTestSupport.h"
#include "packages/ProgramArchive.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>

using namespace vfu::test::packages;
using vfu::FirmwarePackageStore;

namespace
{
juce::MemoryBlock validPackage()
{
    return makePackage ("quillbox-fw-2.2.1", "quillbox-fw-2.2.1.syx", makeImage (1, 2000));
}

// The entry index of the image in validPackage (the checksum list comes first).
constexpr int imageIndex = 1;

FirmwarePackageStore::Finding onlyFinding (const juce::File& folder)
{
    FirmwarePackageStore store;
    store.collect ({}, { folder });
    EXPECT_TRUE (store.getFirmwareVersions().isEmpty());

    const auto findings = store.getFindings();
    EXPECT_EQ (findings.size(), 1u);
    return findings.empty() ? FirmwarePackageStore::Finding{ {}, -1, {} } : findings.front();
}
} // namespace

TEST (HostilePackages, skips_a_truncated_archive)
{
    auto package = validPackage();
    package.setSize (package.getSize() / 2);

    const auto folder = vfu::test::createTemporaryFolder ("truncated");
    writeFile (folder.getChildFile ("cut.vfw"), package);
    EXPECT_EQ (onlyFinding (folder).reason, "not a ZIP archive");
}

TEST (HostilePackages, skips_a_vfw_file_that_is_no_zip_archive)
{
    const auto folder = vfu::test::createTemporaryFolder ("text");
    writeFile (folder.getChildFile ("notes.vfw"), textBlock ("Release notes for 2.2.1"));
    EXPECT_EQ (onlyFinding (folder).reason, "not a ZIP archive");

    folder.getChildFile ("notes.vfw").deleteFile();
    ASSERT_TRUE (folder.getChildFile ("notes.vfw").create()); // empty
    EXPECT_EQ (onlyFinding (folder).reason, "not a ZIP archive");
}

TEST (HostilePackages, skips_a_folder_named_like_a_package)
{
    const auto folder = vfu::test::createTemporaryFolder ("folder");
    folder.getChildFile ("x.vfw").createDirectory();
    writeFile (folder.getChildFile ("x.vfw").getChildFile ("inner.vfw"), validPackage()); // not searched: no recursion
    EXPECT_EQ (onlyFinding (folder).reason, "a folder");
}

TEST (HostilePackages, skips_an_unreadable_file)
{
    const auto folder = vfu::test::createTemporaryFolder ("unreadable");
    const auto file = writeFile (folder.getChildFile ("locked.vfw"), validPackage());
    ::chmod (file.getFullPathName().toRawUTF8(), 0);

    if (juce::FileInputStream (file).openedOk())
        GTEST_SKIP() << "file permissions do not stop this user from reading";

    EXPECT_EQ (onlyFinding (folder).reason, "unreadable");
}

TEST (HostilePackages, refuses_an_image_whose_declared_size_is_over_the_limit)
{
    auto package = validPackage();
    CentralDirectory (package).setUncompressedSize (imageIndex, 0xfffffff0u);
    EXPECT_EQ (rejectionOf (package), "image too large: quillbox-fw-2.2.1.syx");
}

TEST (HostilePackages, refuses_an_image_that_really_is_over_the_limit)
{
    juce::MemoryBlock big ((size_t) FirmwarePackageStore::maximumImageSize + 1, true);
    const auto package =
        makeArchive ({ { "big-1.0.0.sha", textBlock (digestOf (big) + " *big.syx\n") }, { "big.syx", big, false } });
    EXPECT_EQ (rejectionOf (package), "image too large: big.syx");
}

TEST (HostilePackages, refuses_entries_whose_sizes_lie)
{
    {
        auto package = validPackage(); // inflates to more than it declares
        CentralDirectory (package).setUncompressedSize (imageIndex, 100);
        EXPECT_EQ (rejectionOf (package), "damaged archive");
    }
    {
        auto package = validPackage(); // declares more than it inflates to
        CentralDirectory (package).setUncompressedSize (imageIndex, 1000000);
        EXPECT_EQ (rejectionOf (package), "damaged archive");
    }
    {
        auto package = validPackage(); // compressed data reaching past the archive
        CentralDirectory (package).setCompressedSize (imageIndex, 0x7fffffffu);
        EXPECT_EQ (rejectionOf (package), "damaged archive");
    }
    {
        auto stored = makeArchive ({ { "p-1.0.0.sha", textBlock ("") }, { "a.syx", makeImage (1), false } });
        CentralDirectory (stored).setUncompressedSize (1, 20); // stored entries have one size
        EXPECT_EQ (rejectionOf (stored), "damaged archive");
    }
}

TEST (HostilePackages, refuses_a_central_directory_that_lies)
{
    {
        auto package = validPackage();
        CentralDirectory (package).setCentralDirectoryOffset (0x7ffffff0u);
        EXPECT_EQ (rejectionOf (package), "damaged archive");
    }
    {
        auto package = validPackage();
        CentralDirectory (package).setNumEntries (60000);
        EXPECT_EQ (rejectionOf (package), "damaged archive");
    }
    {
        auto package = validPackage();
        CentralDirectory (package).setLocalHeaderOffset (imageIndex, 0xffffff00u);
        EXPECT_EQ (rejectionOf (package), "damaged archive");
    }
}

TEST (HostilePackages, refuses_entries_that_share_their_data)
{
    // Two directory entries for one local entry: the trick that lets a small archive expand to
    // many times its size.
    auto package = makeArchive (
        { { "p-1.0.0.sha", textBlock ("") }, { "a.syx", makeImage (1, 4000) }, { "b.syx", makeImage (2, 4000) } });
    CentralDirectory directory (package);
    directory.setLocalHeaderOffset (2, directory.getLocalHeaderOffset (1));
    EXPECT_EQ (rejectionOf (package), "damaged archive");
}

TEST (HostilePackages, survives_every_truncation_and_every_changed_byte)
{
    // None may crash or read outside the data (run under AddressSanitizer to see it); a cut is
    // always refused, and a changed byte gives the original version or a refusal, unless it is
    // part of the checksum entry's name, which the version comes from.
    auto package = makePackage ("p-1.0.0", "a.syx", makeImage (1, 200));
    ASSERT_EQ (check (package), 1000099);

    CentralDirectory directory (package);
    const auto nameStart = (size_t) (directory.header (0) + 46 - directory.bytes());
    const auto nameEnd = nameStart + directory.readShort (directory.header (0) + 28);

    for (size_t length = 0; length < package.getSize(); ++length)
    {
        juce::MemoryBlock cut (package.getData(), length);
        EXPECT_EQ (check (cut), -1) << "cut at " << length;
    }

    for (size_t i = 0; i < package.getSize(); ++i)
    {
        auto altered = package;
        static_cast<juce::uint8*> (altered.getData())[i] ^= 0x55;
        const auto result = check (altered);

        if (i < nameStart || i >= nameEnd)
        {
            EXPECT_TRUE (result == -1 || result == 1000099) << "byte " << i << " gave " << result;
        }
    }
}

TEST (HostilePackages, reads_a_checksum_list_that_is_not_utf8_as_single_byte_or_utf16_text)
{
    const auto image = makeImage (1, 300);
    const auto line = digestOf (image) + " *a.syx\n";

    // Bytes that are not UTF-8 (a lead byte cut off at the end, 0xff, a Latin-1 comment) are read
    // one byte per character, never walked past the end of the list.
    for (const char* extra : { "\xe2", "\xff\xff", "\xc3", "# caf\xe9\n" })
    {
        juce::MemoryBlock list = textBlock (line);
        list.append (extra, std::strlen (extra));
        EXPECT_EQ (check (makeArchive ({ { "p-1.0.0.sha", list }, { "a.syx", image } })), 1000099) << extra;
    }

    // UTF-16 with a byte order mark, as a Windows shell writes it, in both byte orders.
    for (const bool littleEndian : { true, false })
    {
        juce::MemoryOutputStream utf16;
        utf16.writeByte (littleEndian ? (char) 0xff : (char) 0xfe);
        utf16.writeByte (littleEndian ? (char) 0xfe : (char) 0xff);
        for (auto c : line)
            littleEndian ? utf16.writeShort ((short) c) : utf16.writeShortBigEndian ((short) c);

        EXPECT_EQ (check (makeArchive ({ { "p-1.0.0.sha", utf16.getMemoryBlock() }, { "a.syx", image } })), 1000099)
            << littleEndian;
    }

    // A list holding only a byte order mark is empty text (JUCE would read past it).
    EXPECT_EQ (
        rejectionOf (makeArchive ({ { "p-1.0.0.sha", juce::MemoryBlock ("\xef\xbb\xbf", 3) }, { "a.syx", image } })),
        "image missing from the checksum list: a.syx");

    // Valid UTF-8 beyond ASCII (a comment line, say) is still text.
    const auto package = makeArchive (
        { { "p-1.0.0.sha", textBlock (juce::String::fromUTF8 ("# caf\xc3\xa9\n") + line) }, { "a.syx", image } });
    EXPECT_EQ (check (package), 1000099);
}

TEST (HostilePackages, checks_method_and_encryption_only_on_the_entries_it_reads)
{
    // Each entry marked in turn as bzip2 (12), LZMA (14) or encrypted (flag bit 0): the package
    // survives it on its extra entry and is refused when it is the image or the checksum list.
    const auto image = makeImage (1, 300);
    const std::vector<Entry> entries{ { "p-1.0.0.sha", textBlock (digestOf (image) + " *a.syx\n") },
                                      { "a.syx", image },
                                      { "notes.txt", textBlock ("read me"), false } };

    const auto marked = [&] (int index, int method, bool encrypted)
    {
        auto package = makeArchive (entries);
        CentralDirectory directory (package);
        auto* header = directory.header (index);
        header[10] = (juce::uint8) method;
        if (encrypted)
            header[8] |= 1;
        return package;
    };

    for (const auto& [method, encrypted] :
         std::vector<std::pair<int, bool>>{ { 12, false }, { 14, false }, { 0, true } })
    {
        EXPECT_EQ (check (marked (2, method, encrypted)), 1000099) << method << encrypted;
        EXPECT_EQ (rejectionOf (marked (1, method, encrypted)), "damaged archive") << method << encrypted;
        EXPECT_EQ (rejectionOf (marked (0, method, encrypted)), "damaged archive") << method << encrypted;
    }
}

TEST (HostilePackages, refuses_entry_names_that_are_not_utf8_or_hold_a_NUL)
{
    // The image's name "a.syx" in the central directory, its last byte replaced.
    for (const juce::uint8 last : { (juce::uint8) 0xe2, (juce::uint8) 0xff, (juce::uint8) 0x00 })
    {
        auto package = makePackage ("p-1.0.0", "a.syx", makeImage (1, 200));
        CentralDirectory directory (package);
        auto* name = directory.header (imageIndex) + 46;
        ASSERT_EQ (juce::String::fromUTF8 ((const char*) name, 5), "a.syx");
        name[4] = last;
        EXPECT_EQ (rejectionOf (package), "damaged archive") << (int) last;
    }

    const auto named =
        makeArchive ({ { "p-1.0.0.sha", textBlock (digestOf (makeImage (1, 200)) +
                                                   juce::String::fromUTF8 (" *\xc3\xa9t\xc3\xa9.syx\n")) },
                       { juce::String::fromUTF8 ("\xc3\xa9t\xc3\xa9.syx"), makeImage (1, 200) } });
    EXPECT_EQ (check (named), 1000099);
}

TEST (HostilePackages, refuses_an_image_that_is_empty_or_not_whole_sysex_messages)
{
    // The erase goes out only when what follows it can be sent: collection and the pre-erase check
    // (the same check) refuse such a package.
    EXPECT_EQ (rejectionOf (makePackage ("p-1.0.0", "a.syx", {})), "empty image: a.syx");
    EXPECT_EQ (rejectionOf (makePackage ("p-1.0.0", "a.syx", juce::MemoryBlock ("\x41\xf0\xf7", 3))),
               "not a SysEx image: a.syx (byte 41 at offset 0 outside a SysEx message)");
    EXPECT_EQ (rejectionOf (makePackage ("p-1.0.0", "a.syx", juce::MemoryBlock ("\xf0\x01\x90\xf7", 4))),
               "not a SysEx image: a.syx (byte 90 at offset 2 inside a SysEx message)");
    EXPECT_EQ (rejectionOf (makePackage ("p-1.0.0", "a.syx", juce::MemoryBlock ("\xf0\x01\x02", 3))),
               "not a SysEx image: a.syx (the last SysEx message has no F7)");

    // Several whole messages one after the other are an image.
    EXPECT_EQ (check (makePackage ("p-1.0.0", "a.syx", juce::MemoryBlock ("\xf0\x01\xf7\xf0\x02\xf7", 6))), 1000099);
}

TEST (HostilePackages, refuses_a_second_end_record_that_only_juce_would_read)
{
    // The last 21 bytes hold a second end record, cut short, pointing at another archive in front
    // of the real one with the same names: JUCE's reader takes it (and would send its 2.1.0 image
    // as 2.2.1), a reader that wants 22 whole bytes takes the real one.
    const auto fake = makePackage ("quillbox-fw-2.2.1", "quillbox-fw-2.2.1.syx", makeImage (210));
    auto real = makePackage ("quillbox-fw-2.2.1", "quillbox-fw-2.2.1.syx", makeImage (221));
    ASSERT_TRUE (vfu::ProgramArchive::relocate (real, (juce::int64) fake.getSize()).wasOk());

    juce::MemoryBlock hostile (fake);
    hostile.append (real.getData(), real.getSize());
    hostile.append (static_cast<const char*> (fake.getData()) + fake.getSize() - 22, 21);
    EXPECT_EQ (rejectionOf (hostile), "damaged archive");

    // Data after the archive (a Windows signature block, say) is read past, as JUCE does.
    juce::MemoryBlock followed (real);
    followed.append (juce::MemoryBlock (100 * 1024, true).getData(), 100 * 1024);
    juce::MemoryBlock program (fake);
    program.append (followed.getData(), followed.getSize());
    EXPECT_EQ (check (program), 2020199);
}
