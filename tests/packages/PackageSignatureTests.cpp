// Signed packages: what verifies, what is refused and why, unsigned packages with and without the
// requirement of a signature, key files, and the signing of whole packages.
#include "PackageTestSupport.h"
#include "core/Log.h"
#include "packages/PackageSignature.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

using namespace vfu::test::packages;
using vfu::FirmwarePackageStore;
namespace sig = vfu::PackageSignature;

namespace
{
const juce::String shaName = "quillbox-fw-2.2.1.sha", sigName = "quillbox-fw-2.2.1.sig",
                   syxName = "quillbox-fw-2.2.1.syx";

struct Maker
{
    sig::SecretKey key = sig::generateKey();
    sig::Trust trust;

    Maker()
    {
        auto publicKey = key.getPublicKey();
        publicKey.name = "maker";
        trust.keys.push_back (publicKey);
    }
};

// A package with the given checksum list and signature entries beside one image.
juce::MemoryBlock packageWith (const juce::MemoryBlock& list, const std::vector<juce::MemoryBlock>& signatures,
                               const juce::MemoryBlock& image = makeImage (1), const juce::String& listName = shaName)
{
    std::vector<Entry> entries{ { listName, list } };
    for (auto& signature : signatures)
        entries.push_back ({ sigName, signature, false });
    entries.push_back ({ syxName, image });
    return makeArchive (entries);
}

juce::MemoryBlock listFor (const juce::MemoryBlock& image)
{
    return textBlock (vfu::ArchiveWriter::createChecksumList ({ { syxName, image } }));
}

juce::String rejectionOf (const juce::MemoryBlock& package, const sig::Trust& trust)
{
    juce::String reason;
    EXPECT_EQ (FirmwarePackageStore::checkPackageData (package, trust, &reason), -1);
    return reason;
}
} // namespace

TEST (PackageSignature, a_signed_package_is_accepted_and_named_by_its_key_in_the_findings_and_the_log)
{
    Maker maker;
    juce::MemoryBlock signedPackage;
    ASSERT_TRUE (
        sig::signPackage (makePackage ("quillbox-fw-2.2.1", syxName, makeImage (1)), maker.key, signedPackage).wasOk());

    sig::Verdict verdict;
    juce::String reason;
    EXPECT_EQ (FirmwarePackageStore::checkPackageData (signedPackage, maker.trust, &reason, &verdict), 2020199)
        << reason;
    EXPECT_EQ (verdict.status, sig::Verdict::Status::valid);

    const auto keyId = maker.key.getPublicKey().keyId;
    const auto file = writeFile (vfu::test::createTemporaryFolder ("signed").getChildFile ("p.vfw"), signedPackage);
    FirmwarePackageStore store;
    store.setTrust (maker.trust);
    store.collect ({}, { file });
    ASSERT_EQ (store.getFirmwareVersions(), juce::StringArray ("2.2.1"));
    EXPECT_EQ (store.getFindings()[0].signature, "signed by " + keyId + " (maker)");

    vfu::LogCollector log;
    ASSERT_TRUE (store.setFirmwareVersion ("2.2.1"));
    juce::MemoryBlock image;
    juce::String entryName, versionText;
    EXPECT_EQ (store.readSelectedImage ("quillbox-fw-$(version)", image, entryName, versionText),
               FirmwarePackageStore::ImageReadResult::ok);
    EXPECT_EQ (image, makeImage (1));
    EXPECT_TRUE (log.contains ("Firmware package 2.2.1 (" + file.getFullPathName() + "): '" + syxName +
                               "', signed by " + keyId + " (maker)"))
        << log.getLines().joinIntoString ("\n");
}

TEST (PackageSignature, refuses_each_failing_signature_with_its_own_reason)
{
    Maker maker;
    const auto image = makeImage (1);
    const auto list = listFor (image);
    const auto signature = sig::createSignatureEntry (shaName, list, maker.key);
    ASSERT_EQ (signature.getSize(), sig::maximumSignatureEntrySize);

    // The untouched package passes: every refusal below comes from the one change.
    EXPECT_EQ (FirmwarePackageStore::checkPackageData (packageWith (list, { signature }), maker.trust, nullptr),
               2020199);

    // A changed byte in the list, even one that the digest check would never read.
    auto changedList = list;
    static_cast<char*> (changedList.getData())[list.getSize() - 1] = ' ';
    EXPECT_EQ (rejectionOf (packageWith (changedList, { signature }), maker.trust),
               "signature does not match the checksum list: " + sigName);

    // The list renamed to give another version: the name is signed too.
    EXPECT_EQ (rejectionOf (packageWith (list, { signature }, image, "quillbox-fw-9.9.9.sha"), maker.trust),
               "signature does not match the checksum list: " + sigName);

    // A changed image: the signature holds, the digest does not.
    auto changedImage = image;
    static_cast<juce::uint8*> (changedImage.getData())[100] ^= 1;
    EXPECT_EQ (rejectionOf (packageWith (list, { signature }, changedImage), maker.trust),
               "digest mismatch: " + syxName);

    Maker stranger;
    const auto strangersSignature = sig::createSignatureEntry (shaName, list, stranger.key);
    EXPECT_EQ (rejectionOf (packageWith (list, { strangersSignature }), maker.trust),
               "signed by an unknown key: " + stranger.key.getPublicKey().keyId);

    juce::MemoryBlock truncated (signature.getData(), sig::signatureLineLength - 1);
    EXPECT_EQ (rejectionOf (packageWith (list, { truncated }), maker.trust), "signature entry truncated: " + sigName);
    EXPECT_EQ (rejectionOf (packageWith (list, { juce::MemoryBlock() }), maker.trust),
               "signature entry truncated: " + sigName);

    auto oversized = signature;
    oversized.append ("\n", 1);
    EXPECT_EQ (rejectionOf (packageWith (list, { oversized }), maker.trust), "signature entry too large: " + sigName);
    juce::MemoryBlock huge (1024 * 1024, true);
    EXPECT_EQ (rejectionOf (packageWith (list, { huge }), maker.trust), "signature entry too large: " + sigName);

    EXPECT_EQ (rejectionOf (packageWith (list, { signature, signature }), maker.trust),
               "more than one signature entry");

    // The right length, but not the right form: upper-case hex, a NUL, a missing separator.
    for (auto change : { std::pair<int, char>{ 40, 'A' }, { 40, '\0' }, { 34, 'x' }, { 0, 'E' } })
    {
        auto malformed = signature;
        static_cast<char*> (malformed.getData())[change.first] = change.second;
        EXPECT_EQ (rejectionOf (packageWith (list, { malformed }), maker.trust), "malformed signature: " + sigName)
            << change.first;
    }

    // A signature line without its final newline is the same signature.
    juce::MemoryBlock withoutNewline (signature.getData(), sig::signatureLineLength);
    EXPECT_EQ (FirmwarePackageStore::checkPackageData (packageWith (list, { withoutNewline }), maker.trust, nullptr),
               2020199);
}

TEST (PackageSignature, an_unsigned_package_is_accepted_and_marked_unless_signatures_are_required)
{
    Maker maker;
    const auto folder = vfu::test::createTemporaryFolder ("unsigned");
    const auto unsignedFile = writeFile (folder.getChildFile ("a.vfw"),
                                         makePackage ("quillbox-fw-1.0.0", "quillbox-fw-1.0.0.syx", makeImage (2)));
    juce::MemoryBlock signedPackage;
    ASSERT_TRUE (
        sig::signPackage (makePackage ("quillbox-fw-2.2.1", syxName, makeImage (1)), maker.key, signedPackage).wasOk());
    writeFile (folder.getChildFile ("b.vfw"), signedPackage);

    FirmwarePackageStore store;
    store.setTrust (maker.trust);
    store.collect ({}, { folder });
    EXPECT_EQ (store.getFirmwareVersions(), juce::StringArray ({ "1.0.0", "2.2.1" }));
    EXPECT_EQ (store.getFindings()[0].signature, "unsigned");

    vfu::LogCollector log;
    ASSERT_TRUE (store.setFirmwareVersion ("1.0.0"));
    juce::MemoryBlock image;
    juce::String entryName, versionText;
    ASSERT_EQ (store.readSelectedImage ("quillbox-fw-$(version)", image, entryName, versionText),
               FirmwarePackageStore::ImageReadResult::ok);
    EXPECT_TRUE (log.contains ("Firmware package 1.0.0 (" + unsignedFile.getFullPathName() +
                               "): 'quillbox-fw-1.0.0.syx', unsigned"))
        << log.getLines().joinIntoString ("\n");

    // What VFU_REQUIRE_SIGNED_PACKAGES builds in: the unsigned package is refused, the signed one stays.
    auto required = maker.trust;
    required.requireSigned = true;
    store.setTrust (required);
    store.collect ({}, { folder });
    EXPECT_EQ (store.getFirmwareVersions(), juce::StringArray ("2.2.1"));
    EXPECT_EQ (store.getFindings()[0].source, unsignedFile.getFullPathName());
    EXPECT_EQ (store.getFindings()[0].reason, "unsigned package");

    // A signed file swapped for an unsigned one after collection is not read for a transfer.
    ASSERT_TRUE (store.setFirmwareVersion ("2.2.1"));
    {
        // Overwritten in place: the store's open stream sees the new bytes.
        const auto replacement = makePackage ("quillbox-fw-2.2.1", syxName, makeImage (1));
        juce::FileOutputStream out (folder.getChildFile ("b.vfw"));
        ASSERT_TRUE (out.openedOk() && out.setPosition (0) && out.truncate().wasOk());
        ASSERT_TRUE (out.write (replacement.getData(), replacement.getSize()));
    }
    EXPECT_NE (store.readSelectedImage ("quillbox-fw-$(version)", image, entryName, versionText),
               FirmwarePackageStore::ImageReadResult::ok);
    EXPECT_EQ (image.getSize(), 0u);
}

TEST (PackageSignature, signing_replaces_an_old_signature_and_refuses_a_package_that_fails_its_check)
{
    Maker first, second;
    const auto package = makePackage ("quillbox-fw-2.2.1", syxName, makeImage (1));
    juce::MemoryBlock once, twice;
    ASSERT_TRUE (sig::signPackage (package, first.key, once).wasOk());
    ASSERT_TRUE (sig::signPackage (once, second.key, twice).wasOk());

    sig::Verdict verdict;
    EXPECT_EQ (FirmwarePackageStore::checkPackageData (twice, second.trust, nullptr, &verdict), 2020199);
    EXPECT_EQ (verdict.keyId, second.key.getPublicKey().keyId);

    juce::MemoryBlock stripped;
    ASSERT_TRUE (sig::removeSignatures (twice, stripped).wasOk());
    EXPECT_EQ (stripped, package); // the other entries keep their bytes and compression

    auto damaged = makeImage (1);
    static_cast<juce::uint8*> (damaged.getData())[5] ^= 1;
    const auto broken = makeArchive ({ { shaName, listFor (makeImage (1)) }, { syxName, damaged } });
    juce::MemoryBlock refused;
    const auto result = sig::signPackage (broken, first.key, refused);
    EXPECT_EQ (result.getErrorMessage(), "digest mismatch: " + syxName);
    EXPECT_EQ (sig::signPackage (textBlock ("no zip"), first.key, refused).getErrorMessage(), "not a ZIP archive");
}

TEST (PackageSignature, key_files_round_trip_and_refuse_keys_that_do_not_fit_their_id)
{
    const auto key = sig::generateKey();
    const auto publicKey = key.getPublicKey();

    sig::SecretKey secretRead;
    ASSERT_TRUE (
        sig::parseSecretKeyFile (sig::formatSecretKeyFile (key, "a comment\nover two lines"), secretRead).wasOk());
    EXPECT_EQ (secretRead.bytes, key.bytes);

    sig::PublicKey publicRead;
    ASSERT_TRUE (sig::parsePublicKeyFile (sig::formatPublicKeyFile (publicKey), publicRead).wasOk());
    EXPECT_EQ (publicRead.bytes, publicKey.bytes);
    EXPECT_EQ (publicRead.keyId, publicKey.keyId);
    EXPECT_EQ (publicKey.keyId.length(), 16);

    const auto otherId = sig::generateKey().getPublicKey().keyId;
    EXPECT_TRUE (
        sig::parsePublicKeyFile (sig::formatPublicKeyFile (publicKey).replace (publicKey.keyId, otherId), publicRead)
            .failed());
    EXPECT_TRUE (sig::parseSecretKeyFile (sig::formatSecretKeyFile (key).replace (publicKey.keyId, otherId), secretRead)
                     .failed());

    // A secret key whose public half was swapped for another key's.
    auto text = sig::formatSecretKeyFile (key);
    const auto otherPublic = sig::generateKey().getPublicKey();
    const auto ownHex = juce::String::toHexString (publicKey.bytes.data(), 32, 0);
    text = text.replace (ownHex, juce::String::toHexString (otherPublic.bytes.data(), 32, 0));
    EXPECT_TRUE (sig::parseSecretKeyFile (text, secretRead).failed());

    EXPECT_TRUE (sig::parsePublicKeyFile (sig::formatSecretKeyFile (key), publicRead).failed()); // the wrong kind
    EXPECT_TRUE (sig::parsePublicKeyFile ("", publicRead).failed());
}

TEST (PackageSignature, a_key_file_whose_key_is_not_whole_hex_names_its_kind_and_leaves_the_key_alone)
{
    const auto key = sig::generateKey();
    const auto publicKey = key.getPublicKey();
    const auto cut = [] (const juce::String& text) { return text.trimEnd().dropLastCharacters (2) + "\n"; };

    sig::PublicKey publicRead = publicKey;
    EXPECT_EQ (sig::parsePublicKeyFile (cut (sig::formatPublicKeyFile (publicKey)), publicRead).getErrorMessage(),
               "malformed public key");
    EXPECT_EQ (publicRead.bytes, publicKey.bytes);

    sig::SecretKey secretRead;
    EXPECT_EQ (sig::parseSecretKeyFile (cut (sig::formatSecretKeyFile (key)), secretRead).getErrorMessage(),
               "malformed secret key");
    EXPECT_EQ (sig::parseSecretKeyFile ("ed25519-secret-key 0011\n", secretRead).getErrorMessage(),
               "malformed key line");
    EXPECT_EQ (secretRead.bytes, sig::SecretKey().bytes);
}

TEST (PackageSignature, the_development_key_is_trusted_only_outside_a_release_and_always_marked_by_its_id)
{
    const auto keys = vfu::test::getTestDataFolder().getChildFile ("../../keys");
    sig::PublicKey development;
    ASSERT_TRUE (sig::loadPublicKey (keys.getChildFile ("development.pub"), development).wasOk());
    sig::SecretKey developmentSecret;
    ASSERT_TRUE (sig::loadSecretKey (keys.getChildFile ("development.key"), developmentSecret).wasOk());
    EXPECT_EQ (developmentSecret.getPublicKey().bytes, development.bytes);
    EXPECT_EQ (sig::developmentKeyId(), development.keyId);

    // Its secret half is in the repository: a release build must not trust it.
    const auto* builtIn = sig::Trust::builtIn().find (development.keyId);
    if (sig::isReleaseBuild())
    {
        EXPECT_EQ (builtIn, nullptr) << "a release build trusts the development key";
    }
    else
    {
        ASSERT_NE (builtIn, nullptr);
        EXPECT_EQ (builtIn->name, "development");
        EXPECT_EQ (builtIn->bytes, development.bytes);
    }

    // A signature by it is marked as such whatever name the key was given.
    sig::Trust renamed;
    development.name = "release";
    renamed.keys.push_back (development);
    juce::MemoryBlock signedPackage;
    ASSERT_TRUE (
        sig::signPackage (makePackage ("quillbox-fw-2.2.1", syxName, makeImage (1)), developmentSecret, signedPackage)
            .wasOk());
    sig::Verdict verdict;
    ASSERT_EQ (FirmwarePackageStore::checkPackageData (signedPackage, renamed, nullptr, &verdict), 2020199);
    EXPECT_EQ (verdict.describe (renamed),
               "signed by " + development.keyId + " (development key, not proof of origin)");
}
