// The archive appended to the program file: bundling a copy of an executable, doing it twice,
// collecting from the bundled file, and the delivered package and app that the build produces.
#include "PackageTestSupport.h"
#include "packages/DeliveredPackage.h"
#include "packages/ProgramArchive.h"
#include "packages/ZipArchiveLayout.h"
#include "packages/FirmwareImage.h"
#include "packages/PackageSignature.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace vfu::test::packages;
using vfu::FirmwarePackageStore;

namespace
{
// A copy of this test executable: a real program file to append to.
juce::File copyOfThisProgram (const juce::String& folderPrefix)
{
    const auto self = juce::File::getSpecialLocation (juce::File::currentExecutableFile);
    const auto copy = vfu::test::createTemporaryFolder (folderPrefix).getChildFile (self.getFileName());
    EXPECT_TRUE (self.copyFileTo (copy));
#if !JUCE_WINDOWS
    // Windows runs a program by its name's extension; it has no execute permission to set.
    EXPECT_TRUE (copy.setExecutePermission (true));
#endif
    return copy;
}

juce::MemoryBlock contentsOf (const juce::File& file)
{
    juce::MemoryBlock data;
    file.loadFileAsData (data);
    return data;
}
} // namespace

TEST (ProgramArchive, a_bundled_program_lists_exactly_the_delivered_version)
{
    const auto program = copyOfThisProgram ("bundled");
    const auto original = contentsOf (program);
    ASSERT_TRUE (vfu::ProgramArchive::appendTo (program, vfu::DeliveredPackage::createProgramArchive()).wasOk());

    // The program's own bytes are untouched and the whole file opens as a ZIP archive.
    const auto bundled = contentsOf (program);
    ASSERT_GT (bundled.getSize(), original.getSize());
    EXPECT_EQ (std::memcmp (bundled.getData(), original.getData(), original.getSize()), 0);
    struct stat status
    {
    };
    ASSERT_EQ (::stat (program.getFullPathName().toRawUTF8(), &status), 0);
    EXPECT_NE (status.st_mode & S_IXUSR, 0u); // written in place: still executable

    FirmwarePackageStore store;
    store.collect (program, {});
    EXPECT_EQ (store.getFirmwareVersions(), juce::StringArray ("2.2.1"));

    const auto findings = store.getFindings();
    ASSERT_EQ (findings.size(), 2u);
    EXPECT_EQ (findings[0].source, program.getFullPathName() + "!quillbox-fw-2.2.1.vfw");
    EXPECT_EQ (findings[0].versionNumber, 2020199);
    EXPECT_EQ (findings[1].source, program.getFullPathName() + "!metadata.vfw");
    EXPECT_EQ (findings[1].reason, "not a ZIP archive");

    ASSERT_TRUE (store.setFirmwareVersion ("2.2.1"));
    juce::MemoryBlock image;
    juce::String entryName, versionText;
    ASSERT_EQ (store.readSelectedImage ("quillbox-fw-$(version)", image, entryName, versionText),
               FirmwarePackageStore::ImageReadResult::ok);
    EXPECT_EQ (image.getSize(), vfu::DeliveredPackage::imageSize);
}

// A Windows program signed after bundling: its certificate table (here 80 KiB, as a long chain with
// a timestamp can be) follows the archive, past the 64 KiB in which an end record is looked for.
TEST (ProgramArchive, a_signed_windows_program_keeps_its_archive_before_a_large_certificate_table)
{
    const auto program = vfu::test::createTemporaryFolder ("signed").getChildFile ("program.exe");
    juce::MemoryBlock header (0x200, true);
    auto* bytes = static_cast<juce::uint8*> (header.getData());
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[0x3c] = 0x40; // the PE header's offset
    std::memcpy (bytes + 0x40, "PE\0\0", 4);
    bytes[0x58] = 0x0b; // PE32+ optional header
    bytes[0x59] = 0x02;
    bytes[0x58 + 108] = 16; // data directories
    ASSERT_TRUE (program.replaceWithData (header.getData(), header.getSize()));
    ASSERT_TRUE (vfu::ProgramArchive::appendTo (program, vfu::DeliveredPackage::createProgramArchive()).wasOk());

    const auto tableOffset = (juce::uint32) program.getSize();
    const juce::uint32 tableSize = 80 * 1024;
    juce::MemoryBlock table (tableSize);
    juce::Random random (31);
    random.fillBitsRandomly (table.getData(), table.getSize());
    {
        juce::FileOutputStream out (program);
        ASSERT_TRUE (out.openedOk());
        out.setPosition (tableOffset);
        out.write (table.getData(), table.getSize());
        out.setPosition (0x58 + 112 + 8 * 4); // the certificate table's entry
        out.writeInt ((int) tableOffset);
        out.writeInt ((int) tableSize);
    }

    juce::FileInputStream input (program);
    EXPECT_EQ (vfu::ProgramArchive::getLengthBeforeSignature (input), (juce::int64) tableOffset);

    FirmwarePackageStore store;
    store.collect (program, {});
    EXPECT_EQ (store.getFirmwareVersions(), juce::StringArray ("2.2.1"));
    ASSERT_TRUE (store.setFirmwareVersion ("2.2.1"));
    juce::MemoryBlock image;
    juce::String entryName, versionText;
    EXPECT_EQ (store.readSelectedImage ("quillbox-fw-$(version)", image, entryName, versionText),
               FirmwarePackageStore::ImageReadResult::ok);
}

TEST (ProgramArchive, bundling_again_replaces_the_archive_instead_of_appending_a_second)
{
    const auto program = copyOfThisProgram ("twice");
    const auto originalSize = program.getSize();
    ASSERT_TRUE (vfu::ProgramArchive::appendTo (program, vfu::DeliveredPackage::createProgramArchive()).wasOk());
    const auto once = contentsOf (program);

    EXPECT_EQ (vfu::ProgramArchive::getSizeWithoutArchive (program), originalSize);
    ASSERT_TRUE (vfu::ProgramArchive::appendTo (program, vfu::DeliveredPackage::createProgramArchive()).wasOk());
    EXPECT_EQ (contentsOf (program), once);

    // A different archive replaces the first one whole.
    ASSERT_TRUE (vfu::ProgramArchive::appendTo (
                     program, makeArchive ({ { "other.vfw", makePackage ("x-1.0.0", "a.syx", makeImage (1)) } }))
                     .wasOk());
    FirmwarePackageStore store;
    store.collect (program, {});
    EXPECT_EQ (store.getFirmwareVersions(), juce::StringArray ("1.0.0"));
}

TEST (ProgramArchive, a_desktop_package_replaces_the_program_package_of_the_same_version)
{
    const auto program = copyOfThisProgram ("desktop");
    ASSERT_TRUE (vfu::ProgramArchive::appendTo (program, vfu::DeliveredPackage::createProgramArchive()).wasOk());

    const auto desktop = vfu::test::createTemporaryFolder ("Desktop");
    const auto image = makeImage (9, 777);
    const auto copy = writeFile (desktop.getChildFile ("mine.vfw"),
                                 makePackage ("quillbox-fw-2.2.1", "quillbox-fw-2.2.1.syx", image));

    FirmwarePackageStore store;
    store.collect (program, { program.getParentDirectory(), desktop });
    EXPECT_EQ (store.getFirmwareVersions(), juce::StringArray ("2.2.1"));
    ASSERT_TRUE (store.setFirmwareVersion ("2.2.1"));

    juce::MemoryBlock read;
    juce::String entryName, versionText;
    ASSERT_EQ (store.readSelectedImage ("quillbox-fw-$(version)", read, entryName, versionText),
               FirmwarePackageStore::ImageReadResult::ok);
    EXPECT_EQ (read, image);
    EXPECT_EQ (store.getFindings().front().reason, "replaced by " + copy.getFullPathName());
}

TEST (ProgramArchive, entries_it_does_not_read_may_use_any_method_while_an_unreadable_package_is_skipped_alone)
{
    auto archive = makeArchive ({ { "a.vfw", makePackage ("x-1.0.0", "a.syx", makeImage (1)) },
                                  { "b.vfw", makePackage ("x-2.0.0", "b.syx", makeImage (2)) },
                                  { "signature.bin", textBlock ("not read") } });
    CentralDirectory directory (archive);
    directory.header (1)[10] = 12; // bzip2, which JUCE cannot read
    directory.header (2)[10] = 14; // LZMA

    const auto program = copyOfThisProgram ("methods");
    ASSERT_TRUE (vfu::ProgramArchive::appendTo (program, archive).wasOk());

    FirmwarePackageStore store;
    store.collect (program, {});
    EXPECT_EQ (store.getFirmwareVersions(), juce::StringArray ("1.0.0"));
    ASSERT_EQ (store.getFindings().size(), 2u);
    EXPECT_EQ (store.getFindings()[1].reason, "damaged archive");
}

TEST (ProgramArchive, a_program_without_an_archive_gives_no_packages)
{
    const auto program = copyOfThisProgram ("plain");

    FirmwarePackageStore store;
    store.collect (program, {});
    EXPECT_TRUE (store.getFirmwareVersions().isEmpty());
    ASSERT_EQ (store.getFindings().size(), 1u);
    EXPECT_EQ (store.getFindings()[0].reason, "not a ZIP archive");
}

TEST (ProgramArchive, counts_only_entries_with_the_package_extension)
{
    using vfu::zip::hasPackageExtension;
    EXPECT_TRUE (hasPackageExtension ("quillbox-fw-2.2.1.vfw"));
    EXPECT_TRUE (hasPackageExtension ("folder/UPPER.VFW"));
    EXPECT_FALSE (hasPackageExtension ("notes.vfw.txt"));
    EXPECT_FALSE (hasPackageExtension ("x.vfw\\inside"));
    EXPECT_FALSE (hasPackageExtension ("vfw"));
}

TEST (DeliveredPackage, holds_the_generated_quillbox_image_and_its_checksum)
{
#ifdef VFU_DELIVERED_PACKAGE_FILE
    const juce::File file (VFU_DELIVERED_PACKAGE_FILE);
    ASSERT_TRUE (file.existsAsFile());

    // Signed at build time by a key built into the program; apart from the signature, the
    // generated package itself.
    vfu::PackageSignature::Verdict signature;
    EXPECT_EQ (FirmwarePackageStore::checkPackageData (contentsOf (file), vfu::PackageSignature::Trust::builtIn(),
                                                       nullptr, &signature),
               2020199);
    EXPECT_EQ (signature.status, vfu::PackageSignature::Verdict::Status::valid);

    juce::MemoryBlock package;
    ASSERT_TRUE (vfu::PackageSignature::removeSignatures (contentsOf (file), package).wasOk());
    EXPECT_EQ (package, vfu::DeliveredPackage::createPackage()); // deterministic
#else
    const auto package = vfu::DeliveredPackage::createPackage();
#endif
    EXPECT_EQ (check (package), 2020199);

    juce::MemoryInputStream input (package, false);
    juce::ZipFile zip (input);
    ASSERT_EQ (zip.getNumEntries(), 2);
    std::unique_ptr<juce::InputStream> sha (
        zip.createStreamForEntry (zip.getIndexOfFileName ("quillbox-fw-2.2.1.sha")));
    std::unique_ptr<juce::InputStream> syx (
        zip.createStreamForEntry (zip.getIndexOfFileName ("quillbox-fw-2.2.1.syx")));
    ASSERT_TRUE (sha != nullptr && syx != nullptr);

    juce::MemoryBlock image;
    syx->readIntoMemoryBlock (image);
    ASSERT_EQ (image.getSize(), 359267u);
    EXPECT_EQ (sha->readEntireStreamAsString(), digestOf (image) + " *quillbox-fw-2.2.1.syx");

    // Both entries stored: the program archive deflates the package once, as a whole.
    EXPECT_EQ (package.getSize(), 359612u);
    vfu::zip::ArchiveLayout layout;
    juce::MemoryInputStream layoutInput (package, false);
    ASSERT_TRUE (vfu::zip::readLayout (layoutInput, layout).wasOk());
    for (auto& entry : layout.entries)
        EXPECT_EQ (entry.method, 0) << entry.name;

    const auto programArchive = vfu::DeliveredPackage::createProgramArchive();
    juce::MemoryInputStream programInput (programArchive, false);
    ASSERT_TRUE (vfu::zip::readLayout (programInput, layout).wasOk());
    ASSERT_EQ (layout.entries.front().name, "quillbox-fw-2.2.1.vfw");
    EXPECT_EQ (layout.entries.front().method, 8);
    EXPECT_EQ (layout.entries.front().uncompressedSize, 359612);

    const auto* bytes = static_cast<const juce::uint8*> (image.getData());
    EXPECT_EQ (bytes[0], 0xf0);
    EXPECT_EQ (bytes[1], 0x04);
    EXPECT_EQ (bytes[2], 0x08);
    EXPECT_EQ (bytes[image.getSize() - 1], 0xf7);

    const auto contents = vfu::FirmwareImage::inspect (image.getData(), image.getSize());
    EXPECT_TRUE (contents.valid) << contents.problem;
    EXPECT_EQ (contents.versionNumber, 2020199);
}

TEST (DeliveredPackage, the_built_app_carries_exactly_version_2_2_1)
{
#ifdef VFU_BUNDLED_APP_FILE
    const juce::File app (VFU_BUNDLED_APP_FILE);
    if (!app.existsAsFile())
        GTEST_SKIP() << "the app has not been built: " << app.getFullPathName();

    FirmwarePackageStore store;
    store.collect (app, {});
    EXPECT_EQ (store.getFirmwareVersions(), juce::StringArray ("2.2.1"));
    EXPECT_EQ (store.getLatestFirmwareVersion(), "2.2.1");
    EXPECT_TRUE (store.getFindings().front().signature.startsWith ("signed by ")); // signed at build time
#else
    GTEST_SKIP() << "this build has no app";
#endif
}
