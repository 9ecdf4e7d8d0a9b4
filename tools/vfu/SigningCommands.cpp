// vfu keygen / verify: make a signing key pair, and say for each package whether it is signed, by
// which key, or why its signature is refused, with the keys built into this program.
#include "CommandRegistry.h"

#include "core/VersionNumber.h"
#include "packages/FirmwarePackageStore.h"
#include "packages/PackageSignature.h"
#include "packages/ZipArchiveLayout.h"

#if JUCE_LINUX || JUCE_MAC || JUCE_BSD
#include <fcntl.h>
#include <unistd.h>
#endif

namespace
{
namespace sig = vfu::PackageSignature;

// Creates the file readable by its owner only, from the first byte on; refuses an existing file.
void writeSecretFile (const juce::File& file, const juce::String& text)
{
    if (file.exists())
        vfu::tool::fail (file.getFullPathName() + " exists already; a key is never overwritten");

#if JUCE_LINUX || JUCE_MAC || JUCE_BSD
    const auto descriptor = ::open (file.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    const bool written = descriptor >= 0 && ::write (descriptor, text.toRawUTF8(), text.getNumBytesAsUTF8()) ==
                                                (ssize_t) text.getNumBytesAsUTF8();
    if (descriptor >= 0)
        ::close (descriptor);
#else
    const bool written = file.create().wasOk() && file.replaceWithText (text, false, false, "\n");
#endif

    if (!written)
        vfu::tool::fail ("Cannot write " + file.getFullPathName());
}

int keygen (const std::string& out)
{
    if (out.empty())
        vfu::tool::failUsage ("--out needs a file name");

    const auto base = vfu::tool::resolvePath (vfu::tool::toJuce (out));
    const auto secretFile = base.withFileExtension ("key"), publicFile = base.withFileExtension ("pub");
    if (publicFile.exists())
        vfu::tool::fail (publicFile.getFullPathName() + " exists already; a key is never overwritten");

    const auto key = sig::generateKey();
    const auto publicKey = key.getPublicKey();

    writeSecretFile (secretFile, sig::formatSecretKeyFile (key, "Secret package signing key " + publicKey.keyId +
                                                                    ". Keep it off every repository."));
    if (!publicFile.replaceWithText (
            sig::formatPublicKeyFile (publicKey, "Public package signing key " + publicKey.keyId), false, false, "\n"))
        vfu::tool::fail ("Cannot write " + publicFile.getFullPathName());

    vfu::tool::printLine ("Key id " + publicKey.keyId + ": wrote " + secretFile.getFullPathName() + " (secret) and " +
                          publicFile.getFullPathName() + " (public)");
    return vfu::tool::exitSuccess;
}

struct VerifyOptions
{
    std::vector<std::string> files, keys;
    bool requireSigned = false;
    bool json = false;
};

// What verify finds for one package. line is its text after "FILE: ": "signed by ...", "unsigned",
// "signature invalid: ...", "..., refused: ..." or, before the signature was read, "refused: ...".
struct PackageVerdict
{
    juce::String line;
    juce::String signature; // empty when the package was refused before its signature was read
    juce::String reason;    // empty when accepted
    int versionNumber = -1;

    bool isAccepted() const { return versionNumber >= 0; }
};

PackageVerdict verifyOne (const juce::File& file, const sig::Trust& trust)
{
    PackageVerdict result;
    juce::MemoryBlock package;
    juce::FileInputStream input (file);
    if (!input.openedOk() || !vfu::zip::readAtMost (input, vfu::FirmwarePackageStore::maximumPackageSize, package))
    {
        result.reason = input.openedOk() ? "package too large" : "unreadable";
        result.line = "refused: " + result.reason;
        return result;
    }

    sig::Verdict verdict;
    result.versionNumber = vfu::FirmwarePackageStore::checkPackageData (package, trust, &result.reason, &verdict);
    if (verdict.checked)
        result.signature = verdict.describe (trust);

    // A package refused before its signature was read is neither signed nor unsigned.
    if (!verdict.checked)
        result.line = "refused: " + result.reason;
    else if (verdict.status == sig::Verdict::Status::invalid)
        result.line = result.signature;
    else if (!result.isAccepted())
        result.line = result.signature + ", refused: " + result.reason;
    else
        result.line = result.signature + ", version " + vfu::formatVersionNumber (result.versionNumber);

    if (result.isAccepted())
        result.reason.clear();
    else if (result.reason.isEmpty())
        result.reason = result.line;
    return result;
}

juce::var toJson (const juce::File& file, const PackageVerdict& verdict)
{
    auto* item = new juce::DynamicObject();
    item->setProperty ("source", file.getFullPathName());
    item->setProperty ("accepted", verdict.isAccepted());
    if (verdict.signature.isNotEmpty())
        item->setProperty ("signature", verdict.signature);
    if (verdict.isAccepted())
    {
        item->setProperty ("version", vfu::formatVersionNumber (verdict.versionNumber));
        item->setProperty ("versionNumber", verdict.versionNumber);
    }
    else
    {
        item->setProperty ("reason", verdict.reason);
    }
    return juce::var (item);
}

int verify (const VerifyOptions& options)
{
    auto trust = sig::Trust::builtIn();
    trust.requireSigned = trust.requireSigned || options.requireSigned;

    for (auto& path : options.keys)
    {
        const auto keyFile = vfu::tool::resolvePath (vfu::tool::toJuce (path));
        sig::PublicKey key;
        if (auto result = sig::loadPublicKey (keyFile, key); result.failed())
            vfu::tool::failUsage (result.getErrorMessage());

        // Named by its key id alone: a file name says nothing about who holds the secret key.
        if (trust.find (key.keyId) == nullptr)
            trust.keys.push_back (key);
    }

    // Every file is checked to exist before any is read, so a typo says so before any output.
    juce::Array<juce::File> files;
    for (auto& path : options.files)
    {
        const auto file = vfu::tool::resolvePath (vfu::tool::toJuce (path));
        if (!file.existsAsFile())
            vfu::tool::failUsage ("No such file: " + file.getFullPathName());
        files.add (file);
    }

    bool allAccepted = true;
    juce::Array<juce::var> packages;
    for (auto& file : files)
    {
        const auto verdict = verifyOne (file, trust);
        allAccepted = verdict.isAccepted() && allAccepted;
        if (options.json)
            packages.add (toJson (file, verdict));
        else
            vfu::tool::printLine (file.getFullPathName() + ": " + verdict.line);
    }

    if (options.json)
    {
        auto* result = new juce::DynamicObject();
        result->setProperty ("packages", packages);
        vfu::tool::printLine (juce::JSON::toString (juce::var (result)));
    }

    if (!allAccepted)
        vfu::tool::fail ("A package was refused.");

    return vfu::tool::exitSuccess;
}

const vfu::tool::CommandRegistration keygenCommand ({
    "keygen",
    "Writes a new Ed25519 key pair for signing firmware packages",
    "Writes NAME.key (the secret key, readable by its owner only) and NAME.pub (the public key), and\n"
    "prints the key id. Neither file is overwritten. Keep NAME.key off every repository; build the\n"
    "program with NAME.pub among its keys (VFU_TRUSTED_KEY_FILES) and sign with \"vfu pack --sign NAME.key\".",
    "",
    [] (CLI::App& app) -> std::function<int()>
    {
        auto out = std::make_shared<std::string>();
        vfu::tool::required (app.add_option ("--out", *out, "The key files' name without extension (NAME)"));
        return [out] { return keygen (*out); };
    },
});

const vfu::tool::CommandRegistration verifyCommand ({
    "verify",
    "Says for each package whether it is signed, by which key, or why it is refused",
    "Checks each FILE as collection does, with the keys built into this program (and any --key), and\n"
    "prints one line per package: \"signed by KEYID (name), version V\", \"unsigned, version V\",\n"
    "\"signature invalid: REASON\", \"..., refused: REASON\" when another check fails, or \"refused: REASON\" when\n"
    "the package is refused before its signature is read (a --key is named by its key id). Exits 1 when a\n"
    "package is refused (a signature that fails, another failed check, or unsigned where signatures are\n"
    "required). --json prints one JSON object instead: \"packages\", each with source, accepted, signature\n"
    "(once it was read), and version and versionNumber, or reason.",
    "",
    [] (CLI::App& app) -> std::function<int()>
    {
        auto options = std::make_shared<VerifyOptions>();
        app.add_flag ("--json", options->json, "One JSON object");
        vfu::tool::required (app.add_option ("FILE", options->files, "A package (.vfw) to verify"));
        vfu::tool::addRepeatableOption (app, "--key", options->keys, "A public key file to trust as well (NAME.pub)");
        app.add_flag ("--require-signed", options->requireSigned, "Refuse unsigned packages");
        return [options] { return verify (*options); };
    },
});
} // namespace
