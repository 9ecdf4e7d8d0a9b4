// A package is offered only whole and only as collected: every image the model's transfers send,
// every image its signed list names, and at the transfer the same signer as at collection.
#include "PackageTestSupport.h"
#include "packages/PackageSignature.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

using namespace vfu::test::packages;
using vfu::FirmwarePackageStore;
namespace sig = vfu::PackageSignature;

namespace
{
using ReadResult = FirmwarePackageStore::ImageReadResult;

// Two transfers, as a two-phase model sends them.
const juce::StringArray twoImageKinds{ "lumostrel-fw-$(version)", "lumostrel-dsp-$(version)" };

juce::MemoryBlock packageOf (const juce::String& baseName, const std::vector<Entry>& images)
{
    return vfu::ArchiveWriter::createPackage (baseName, images);
}

juce::MemoryBlock signedWith (const juce::MemoryBlock& package, const sig::SecretKey& key)
{
    juce::MemoryBlock result;
    EXPECT_TRUE (sig::signPackage (package, key, result).wasOk());
    return result;
}

sig::Trust trustOf (std::initializer_list<const sig::SecretKey*> keys)
{
    sig::Trust trust;
    for (auto* key : keys)
        trust.keys.push_back (key->getPublicKey());
    return trust;
}

// Overwrites the file in place, as a copy over an open file does: the store's stream sees the bytes.
void overwrite (const juce::File& file, const juce::MemoryBlock& data)
{
    juce::FileOutputStream out (file);
    ASSERT_TRUE (out.openedOk() && out.setPosition (0) && out.truncate().wasOk());
    ASSERT_TRUE (out.write (data.getData(), data.getSize()));
}

juce::String reasonFor (const FirmwarePackageStore& store, const juce::File& file)
{
    for (auto& finding : store.getFindings())
        if (finding.source == file.getFullPathName())
            return finding.reason;
    return "(not looked at)";
}
} // namespace

TEST (WholePackage, a_package_without_every_image_the_model_sends_is_refused_at_collection_and_at_the_transfer)
{
    const auto folder = vfu::test::createTemporaryFolder ("whole-package");
    const auto fw = makeImage (1), dsp = makeImage (2);

    // The wrong model's image (the package a user packed for another instrument), one image of two,
    // and the right image under an upper-case extension: none can be sent whole.
    const auto wrongModel = writeFile (folder.getChildFile ("a.vfw"),
                                       packageOf ("lumostrel-fw-1.4.2", { { "quillbox-fw-1.4.2.syx", fw } }));
    const auto halfOnly = writeFile (folder.getChildFile ("b.vfw"),
                                     packageOf ("lumostrel-fw-1.4.3", { { "lumostrel-fw-1.4.3.syx", fw } }));
    const auto upperCase =
        writeFile (folder.getChildFile ("c.vfw"),
                   makeArchive ({ { "lumostrel-fw-1.4.4.sha",
                                    textBlock (vfu::ArchiveWriter::createChecksumList (
                                        { { "lumostrel-fw-1.4.4.syx", fw }, { "lumostrel-dsp-1.4.4.syx", dsp } })) },
                                  { "lumostrel-fw-1.4.4.SYX", fw },
                                  { "lumostrel-dsp-1.4.4.syx", dsp } }));
    const auto whole = writeFile (
        folder.getChildFile ("d.vfw"),
        packageOf ("lumostrel-fw-1.5.0", { { "lumostrel-fw-1.5.0.syx", fw }, { "lumostrel-dsp-1.5.0.syx", dsp } }));

    FirmwarePackageStore store;
    store.setRequiredImages (twoImageKinds);
    store.collect ({}, { folder });

    EXPECT_EQ (store.getFirmwareVersions(), juce::StringArray ("1.5.0"));
    EXPECT_EQ (reasonFor (store, wrongModel), "required image missing: lumostrel-fw-1.4.2.syx");
    EXPECT_EQ (reasonFor (store, halfOnly), "required image missing: lumostrel-dsp-1.4.3.syx");
    EXPECT_EQ (reasonFor (store, upperCase), "required image missing: lumostrel-fw-1.4.4.syx");

    // Without required images (no model given), the store accepts what passes its check.
    FirmwarePackageStore any;
    any.collect ({}, { folder });
    EXPECT_EQ (any.getFirmwareVersions().size(), 4);

    // Selected whole, then overwritten by a package of the same version that lost an image: the
    // check before the erase and the image read both refuse it.
    ASSERT_TRUE (store.setFirmwareVersion ("1.5.0"));
    EXPECT_EQ (store.checkSelectedPackage(), ReadResult::ok);
    overwrite (whole, packageOf ("lumostrel-fw-1.5.0", { { "lumostrel-fw-1.5.0.syx", fw } }));

    juce::String detail;
    EXPECT_EQ (store.checkSelectedPackage (&detail), ReadResult::packageCheckFailed);
    EXPECT_EQ (detail, "required image missing: lumostrel-dsp-1.5.0.syx");

    juce::MemoryBlock image;
    juce::String entryName, versionText;
    EXPECT_EQ (store.readSelectedImage ("lumostrel-fw-$(version)", image, entryName, versionText),
               ReadResult::packageCheckFailed);
    EXPECT_EQ (image.getSize(), 0u);
}

TEST (WholePackage, a_signed_package_must_hold_every_image_its_signed_list_names)
{
    const auto key = sig::generateKey();
    const auto trust = trustOf ({ &key });
    const auto fw = makeImage (1), dsp = makeImage (2);
    const std::vector<Entry> images{ { "lumostrel-fw-1.5.0.syx", fw }, { "lumostrel-dsp-1.5.0.syx", dsp } };
    const auto list = textBlock (vfu::ArchiveWriter::createChecksumList (images));
    const auto signature = sig::createSignatureEntry ("lumostrel-fw-1.5.0.sha", list, key);

    auto packageWith = [&] (std::vector<Entry> present)
    {
        std::vector<Entry> entries{ { "lumostrel-fw-1.5.0.sha", list },
                                    { "lumostrel-fw-1.5.0.sig", signature, false } };
        entries.insert (entries.end(), present.begin(), present.end());
        return makeArchive (entries);
    };

    juce::String reason;
    EXPECT_EQ (FirmwarePackageStore::checkPackageData (packageWith (images), trust, &reason), 1050099) << reason;

    // One image removed, or renamed to ".SYX": the signature still covers the list, which now names
    // an image the package does not hold.
    EXPECT_EQ (FirmwarePackageStore::checkPackageData (packageWith ({ images[0] }), trust, &reason), -1);
    EXPECT_EQ (reason, "image in the signed checksum list missing: lumostrel-dsp-1.5.0.syx");
    EXPECT_EQ (FirmwarePackageStore::checkPackageData (packageWith ({ images[0], { "lumostrel-dsp-1.5.0.SYX", dsp } }),
                                                       trust, &reason),
               -1);
    EXPECT_EQ (reason, "image in the signed checksum list missing: lumostrel-dsp-1.5.0.syx");
}

TEST (WholePackage, the_transfer_refuses_a_package_whose_signer_changed_since_collection)
{
    const auto maker = sig::generateKey(), other = sig::generateKey();
    const auto folder = vfu::test::createTemporaryFolder ("signer-changed");
    const auto package = packageOf ("quillbox-fw-2.2.1", { { "quillbox-fw-2.2.1.syx", makeImage (1) } });
    const auto file = writeFile (folder.getChildFile ("p.vfw"), signedWith (package, maker));

    // A default build: unsigned packages are accepted, both keys are trusted.
    FirmwarePackageStore store;
    store.setTrust (trustOf ({ &maker, &other }));
    store.collect ({}, { file });
    ASSERT_TRUE (store.setFirmwareVersion ("2.2.1"));
    ASSERT_EQ (store.checkSelectedPackage(), ReadResult::ok);

    const auto makerId = maker.getPublicKey().keyId, otherId = other.getPublicKey().keyId;
    juce::MemoryBlock image;
    juce::String entryName, versionText, detail;

    overwrite (file, package);
    EXPECT_EQ (store.readSelectedImage ("quillbox-fw-$(version)", image, entryName, versionText, &detail),
               ReadResult::packageCheckFailed);
    EXPECT_EQ (detail, "signed by " + makerId + " when collected, now unsigned");

    overwrite (file, signedWith (package, other));
    EXPECT_EQ (store.checkSelectedPackage (&detail), ReadResult::packageCheckFailed);
    EXPECT_EQ (detail, "signed by " + makerId + " when collected, now signed by " + otherId);

    overwrite (file, signedWith (package, maker));
    EXPECT_EQ (store.readSelectedImage ("quillbox-fw-$(version)", image, entryName, versionText), ReadResult::ok);
}

TEST (WholePackage, an_unsigned_package_never_replaces_a_signed_one_of_the_same_version)
{
    const auto maker = sig::generateKey();
    const auto folder = vfu::test::createTemporaryFolder ("signed-wins");
    const auto package = packageOf ("quillbox-fw-2.2.1", { { "quillbox-fw-2.2.1.syx", makeImage (1) } });
    const auto first = folder.getChildFile ("a.vfw"), second = folder.getChildFile ("b.vfw");

    for (const bool signedFirst : { true, false })
    {
        writeFile (first, signedFirst ? signedWith (package, maker) : package);
        writeFile (second, signedFirst ? package : signedWith (package, maker));

        FirmwarePackageStore store;
        store.setTrust (trustOf ({ &maker }));
        store.collect ({}, { folder });

        const auto findings = store.getFindings();
        ASSERT_EQ (findings.size(), 2u);
        const auto& signedOne = findings[signedFirst ? 0 : 1];
        const auto& unsignedOne = findings[signedFirst ? 1 : 0];
        EXPECT_TRUE (signedOne.reason.isEmpty()) << signedOne.reason;
        EXPECT_TRUE (signedOne.signature.startsWith ("signed by ")) << signedFirst;
        EXPECT_EQ (unsignedOne.reason, signedFirst
                                           ? "a signed package of the same version is kept: " + first.getFullPathName()
                                           : "replaced by " + second.getFullPathName());
    }
}
