// vfu keygen, pack --sign, verify and packages as a package maker uses them: a key pair, a signed
// package, what verify says about it, a tampered copy and an unsigned one.
#include "support/TestEnvironment.h"
#include "vfu/VfuProcess.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace
{
using Outcome = vfu::test::VfuRun;
using vfu::test::runVfu;

} // namespace

TEST (VfuSigning, keygen_pack_sign_and_verify_name_the_key_and_refuse_a_tampered_package)
{
    const auto folder = vfu::test::createTemporaryFolder ("vfu-signing");
    const auto path = [&] (const char* name) { return folder.getChildFile (name).getFullPathName(); };

    const auto keygen = runVfu ({ "keygen", "--out", path ("maker") });
    ASSERT_EQ (keygen.exitCode, 0) << keygen.output;
    const auto keyId = keygen.output.fromFirstOccurrenceOf ("Key id ", false, false).substring (0, 16);
    ASSERT_TRUE (keyId.containsOnly ("0123456789abcdef") && keyId.length() == 16) << keygen.output;

    struct stat status
    {
    };
    ASSERT_EQ (::stat (path ("maker.key").toRawUTF8(), &status), 0);
#if !JUCE_WINDOWS
    // Windows has no mode bits to check (stat copies the owner's to group and others); access
    // there follows the folder's access list, the user's profile for a key kept in it.
    EXPECT_EQ (status.st_mode & 0077, 0u) << "the secret key is readable by others";
#endif
    EXPECT_EQ (runVfu ({ "keygen", "--out", path ("maker") }).exitCode, 1); // never overwritten

    ASSERT_EQ (runVfu ({ "make-image", "--model", "quillbox", "--version", "2.2.1", "--size", "1000", "-o",
                         path ("quillbox-fw-2.2.1.syx") })
                   .exitCode,
               0);
    const auto pack = runVfu ({ "pack", "--name", "quillbox-fw-2.2.1", "--sign", path ("maker.key"), "-o",
                                path ("signed.vfw"), path ("quillbox-fw-2.2.1.syx") });
    ASSERT_EQ (pack.exitCode, 0) << pack.output;
    EXPECT_TRUE (pack.output.contains ("signed by " + keyId)) << pack.output;
    ASSERT_EQ (
        runVfu ({ "pack", "--name", "quillbox-fw-2.2.1", "-o", path ("unsigned.vfw"), path ("quillbox-fw-2.2.1.syx") })
            .exitCode,
        0);

    // The tampered copy: a renamed checksum list (another version) under the same signature.
    juce::MemoryBlock bytes;
    ASSERT_TRUE (juce::File (path ("signed.vfw")).loadFileAsData (bytes));
    const juce::String from ("quillbox-fw-2.2.1.sha"), to ("quillbox-fw-9.9.9.sha");
    auto* raw = static_cast<char*> (bytes.getData());
    for (size_t i = 0; i + (size_t) from.length() <= bytes.getSize(); ++i)
        if (std::memcmp (raw + i, from.toRawUTF8(), (size_t) from.length()) == 0)
            std::memcpy (raw + i, to.toRawUTF8(), (size_t) to.length());
    ASSERT_TRUE (juce::File (path ("tampered.vfw")).replaceWithData (bytes.getData(), bytes.getSize()));

    // Unknown to the program until its public key is given.
    const auto unknown = runVfu ({ "verify", path ("signed.vfw") });
    EXPECT_EQ (unknown.exitCode, 1);
    EXPECT_TRUE (unknown.output.contains ("signature invalid: signed by an unknown key: " + keyId)) << unknown.output;

    const auto verify = runVfu ({ "verify", "--key", path ("maker.pub"), path ("signed.vfw"), path ("unsigned.vfw") });
    EXPECT_EQ (verify.exitCode, 0) << verify.output;
    // A --key is named by its key id: its file name says nothing about who holds the secret.
    EXPECT_TRUE (verify.output.contains (path ("signed.vfw") + ": signed by " + keyId + ", version 2.2.1"))
        << verify.output;
    EXPECT_TRUE (verify.output.contains (path ("unsigned.vfw") + ": unsigned, version 2.2.1")) << verify.output;

    const auto tampered = runVfu ({ "verify", "--key=" + path ("maker.pub"), path ("tampered.vfw") });
    EXPECT_EQ (tampered.exitCode, 1);
    EXPECT_TRUE (tampered.output.contains (path ("tampered.vfw") +
                                           ": signature invalid: signature does not match the checksum list: "
                                           "quillbox-fw-2.2.1.sig"))
        << tampered.output;

    // Refused before its signature was read: neither signed nor unsigned.
    ASSERT_TRUE (juce::File (path ("not-a-package.vfw")).replaceWithText ("not a package"));
    const auto notPackage = runVfu ({ "verify", path ("not-a-package.vfw") });
    EXPECT_EQ (notPackage.exitCode, 1);
    EXPECT_TRUE (notPackage.output.contains (path ("not-a-package.vfw") + ": refused: not a ZIP archive"))
        << notPackage.output;

    const auto required = runVfu ({ "verify", "--require-signed", path ("unsigned.vfw") });
    EXPECT_EQ (required.exitCode, 1);
    EXPECT_TRUE (required.output.contains ("unsigned, refused: unsigned package")) << required.output;

    const auto packages = runVfu ({ "packages", path ("unsigned.vfw") });
    EXPECT_EQ (packages.exitCode, 0) << packages.output;
    EXPECT_TRUE (packages.output.contains ("\"signature\": \"unsigned\"")) << packages.output;

    for (auto command : { "keygen", "verify", "pack" })
    {
        const auto help = runVfu ({ command, "--help" });
        EXPECT_EQ (help.exitCode, 0);
        EXPECT_TRUE (help.output.contains (juce::String (command) == "pack" ? "--sign" : "Exit codes:")) << help.output;
    }
}
