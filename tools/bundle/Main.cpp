// vfu_bundle: the build step that makes the delivered firmware package and appends it, inside a
// ZIP archive, to the linked program.
//   vfu_bundle package OUT.vfw [SIGNING]   writes quillbox-fw-2.2.1.vfw
//   vfu_bundle program PROGRAM [SIGNING]   appends (or replaces) the program archive, then checks that
//                                          collection over the program finds exactly version 2.2.1
//   vfu_bundle verify PROGRAM [SIGNING]    only the check, for a copy that was installed or packaged
// SIGNING: --key SECRET_KEY_FILE signs the package; --refuse-key PUBLIC_KEY_FILE fails the step when
// the secret key is that public key's pair (a release build passes the development key).
#include "packages/DeliveredPackage.h"
#include "packages/FirmwarePackageStore.h"
#include "packages/PackageSignature.h"
#include "packages/ProgramArchive.h"

#include <juce_events/juce_events.h>

#include <iostream>

namespace
{
int fail (const juce::String& message)
{
    std::cerr << "vfu_bundle: " << message << std::endl;
    return 1;
}

juce::File argumentFile (const juce::String& path)
{
    return juce::File::getCurrentWorkingDirectory().getChildFile (path);
}

struct Signing
{
    bool sign = false;
    vfu::PackageSignature::SecretKey key;
    juce::String keyId;
};

// Reads the signing options that follow the command's own argument.
juce::Result readSigning (const juce::StringArray& options, Signing& signing)
{
    juce::File keyFile, refusedKeyFile;
    for (int i = 0; i + 1 < options.size(); i += 2)
    {
        if (options[i] == "--key")
            keyFile = argumentFile (options[i + 1]);
        else if (options[i] == "--refuse-key")
            refusedKeyFile = argumentFile (options[i + 1]);
        else
            return juce::Result::fail ("unknown option " + options[i]);
    }

    if (options.size() % 2 != 0)
        return juce::Result::fail ("option " + options[options.size() - 1] + " needs a file");

    if (keyFile == juce::File())
        return refusedKeyFile == juce::File() ? juce::Result::ok() : juce::Result::fail ("--refuse-key without --key");

    if (auto result = vfu::PackageSignature::loadSecretKey (keyFile, signing.key); result.failed())
        return result;

    signing.sign = true;
    signing.keyId = signing.key.getPublicKey().keyId;

    if (refusedKeyFile != juce::File())
    {
        vfu::PackageSignature::PublicKey refused;
        if (auto result = vfu::PackageSignature::loadPublicKey (refusedKeyFile, refused); result.failed())
            return result;

        if (refused.bytes == signing.key.getPublicKey().bytes)
            return juce::Result::fail ("refusing to sign with the key of " + refusedKeyFile.getFullPathName() +
                                       " (key id " + refused.keyId + ") in a release build");
    }

    return juce::Result::ok();
}

juce::Result createDeliveredPackage (const Signing& signing, juce::MemoryBlock& package)
{
    package = vfu::DeliveredPackage::createPackage();
    if (!signing.sign)
        return juce::Result::ok();

    juce::MemoryBlock signedPackage;
    if (auto result = vfu::PackageSignature::signPackage (package, signing.key, signedPackage); result.failed())
        return juce::Result::fail ("cannot sign the delivered package: " + result.getErrorMessage());

    package = std::move (signedPackage);
    return juce::Result::ok();
}

int writePackage (const juce::File& out, const Signing& signing)
{
    juce::MemoryBlock package;
    if (auto result = createDeliveredPackage (signing, package); result.failed())
        return fail (result.getErrorMessage());

    if (!out.getParentDirectory().createDirectory() || !out.replaceWithData (package.getData(), package.getSize()))
        return fail ("cannot write " + out.getFullPathName());

    return 0;
}

// The program must find its own package, and nothing else, exactly as it will at start (with the
// keys built into it, and refusing unsigned packages when it was built to).
int verifyProgram (const juce::File& program, const Signing& signing)
{
    if (!program.existsAsFile())
        return fail ("no program at " + program.getFullPathName());

    vfu::FirmwarePackageStore store;
    store.collect (program, {});

    if (store.getFirmwareVersions() != juce::StringArray (vfu::DeliveredPackage::versionText))
    {
        juce::StringArray reasons;
        for (auto& finding : store.getFindings())
            if (finding.reason.isNotEmpty())
                reasons.add (finding.source.fromLastOccurrenceOf ("!", false, false) + ": " + finding.reason);

        return fail ("the bundled program lists the versions \"" + store.getFirmwareVersions().joinIntoString (", ") +
                     "\" instead of " + vfu::DeliveredPackage::versionText + " (" + reasons.joinIntoString ("; ") +
                     ")");
    }

    if (signing.sign)
    {
        for (auto& finding : store.getFindings())
            if (finding.reason.isEmpty() && !finding.signature.startsWith ("signed by " + signing.keyId))
                return fail ("the bundled package is " + finding.signature + ", not signed by " + signing.keyId +
                             ": is that key's public key built into the program?");
    }

    return 0;
}

int bundleProgram (const juce::File& program, const Signing& signing)
{
    juce::MemoryBlock package;
    if (auto result = createDeliveredPackage (signing, package); result.failed())
        return fail (result.getErrorMessage());

    if (auto result = vfu::ProgramArchive::appendTo (program, vfu::DeliveredPackage::createProgramArchive (package));
        result.failed())
        return fail (result.getErrorMessage());

    return verifyProgram (program, signing);
}
} // namespace

int main (int argc, char* argv[])
{
    juce::ScopedJuceInitialiser_GUI juceInitialiser;

    juce::StringArray arguments;
    for (int i = 1; i < argc; ++i)
        arguments.add (argv[i]);

    const auto command = arguments[0];
    if (arguments.size() >= 2 && (command == "package" || command == "program" || command == "verify"))
    {
        Signing signing;
        if (auto result = readSigning (juce::StringArray (arguments.begin() + 2, arguments.size() - 2), signing);
            result.failed())
            return fail (result.getErrorMessage());

        const auto file = argumentFile (arguments[1]);
        if (command == "verify")
            return verifyProgram (file, signing);

        return command == "package" ? writePackage (file, signing) : bundleProgram (file, signing);
    }

    std::cerr << "Usage: vfu_bundle package|program|verify FILE [--key SECRET_KEY_FILE "
                 "[--refuse-key PUBLIC_KEY_FILE]]"
              << std::endl;
    return 2;
}
