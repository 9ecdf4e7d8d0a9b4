// vfu make-image / pack / packages: build firmware images and packages, and show what package
// collection finds, with the same code the app uses.
#include "CommandRegistry.h"
#include "DefinitionArguments.h"

#include "core/TextFromBytes.h"
#include "definitions/DefinitionFile.h"
#include "definitions/DefinitionTransitions.h"
#include "definitions/FirmwareUpdater.h"
#include "definitions/InbuiltDefinitions.h"
#include "packages/FirmwarePackageStore.h"
#include "packages/FirmwarePackageWriter.h"
#include "packages/PackageSignature.h"
#include "core/VersionNumber.h"
#include "packages/FirmwareImage.h"

#include <iostream>
#include <map>

namespace
{
juce::File resolve (const std::string& path)
{
    return vfu::tool::resolvePath (vfu::tool::toJuce (path));
}

void writeOrFail (const juce::File& file, const juce::MemoryBlock& data)
{
    if (!file.getParentDirectory().createDirectory() || !file.replaceWithData (data.getData(), data.getSize()))
        vfu::tool::fail ("Cannot write " + file.getFullPathName());
}

struct MakeImageOptions
{
    std::string model, version, size, output;
};

int makeImage (const MakeImageOptions& options)
{
    const std::map<juce::String, juce::uint16> models{ { "quillbox", 0x0008 },
                                                       { "lumostrel", 0x000b },
                                                       { "orb26", 0x000c } };

    const auto model = vfu::tool::toJuce (options.model).toLowerCase();
    const auto found = models.find (model);
    if (found == models.end())
        vfu::tool::failUsage ("Unknown model: " + model + " (quillbox, lumostrel or orb26)");

    const auto version = vfu::tool::toJuce (options.version);
    const auto sizeText = vfu::tool::toJuce (options.size);
    const auto size = sizeText.getLargeIntValue();

    if (!sizeText.containsOnly ("0123456789") || size < (juce::int64) vfu::FirmwareImage::minimumSize ||
        size > vfu::FirmwarePackageStore::maximumImageSize)
        vfu::tool::failUsage ("--size must be a whole number from " +
                              juce::String ((int) vfu::FirmwareImage::minimumSize) + " to " +
                              juce::String (vfu::FirmwarePackageStore::maximumImageSize));

    const auto out = resolve (options.output);
    writeOrFail (out, vfu::FirmwareImage::generate (found->second, version, (size_t) size));
    vfu::tool::printLine ("Wrote " + out.getFullPathName() + " (" + juce::String (size) + " bytes)");
    return vfu::tool::exitSuccess;
}

// An image in the simulated instruments' layout carries the version it installs; one that says
// another version than the package name makes an update that always ends in failure.
void warnOfOtherVersions (const std::vector<vfu::ArchiveWriter::Entry>& images, int packageVersion)
{
    if (packageVersion < 0)
        return;

    for (auto& image : images)
    {
        const auto contents = vfu::FirmwareImage::inspect (image.data.getData(), image.data.getSize());
        if (contents.valid && contents.versionNumber != packageVersion)
            std::cerr << "Warning: " << image.name << " reports version "
                      << vfu::formatVersionNumber (contents.versionNumber) << ", the package name says "
                      << vfu::formatVersionNumber (packageVersion) << std::endl;
    }
}

struct PackOptions
{
    std::string name, output, signingKey;
    std::vector<std::string> images;
};

int pack (const PackOptions& options)
{
    const auto baseName = vfu::tool::toJuce (options.name);
    if (baseName.isEmpty())
        vfu::tool::failUsage ("--name needs a non-empty base name");

    const auto out = resolve (options.output);
    const auto& imagePaths = options.images;

    std::vector<vfu::ArchiveWriter::Entry> images;
    juce::StringArray names;

    for (auto& path : imagePaths)
    {
        const auto file = resolve (path);
        if (!file.existsAsFile())
            vfu::tool::failUsage ("No such file: " + file.getFullPathName());

        if (file.getSize() > vfu::FirmwarePackageStore::maximumImageSize)
            vfu::tool::failUsage ("Image too large: " + file.getFullPathName());

        if (names.contains (file.getFileName()))
            vfu::tool::failUsage ("Two images named " + file.getFileName());

        vfu::ArchiveWriter::Entry image{ file.getFileName(), {}, true };
        if (!file.loadFileAsData (image.data))
            vfu::tool::fail ("Cannot read " + file.getFullPathName());

        names.add (image.name);
        images.push_back (std::move (image));
    }

    const auto version = vfu::FirmwarePackageStore::versionFromChecksumEntryName (baseName + ".sha");
    warnOfOtherVersions (images, version);

    auto package = vfu::ArchiveWriter::createPackage (baseName, images);
    juce::String signedBy;

    if (!options.signingKey.empty())
    {
        const auto keyFile = resolve (options.signingKey);
        if (!keyFile.existsAsFile())
            vfu::tool::failUsage ("No such file: " + keyFile.getFullPathName());

        vfu::PackageSignature::SecretKey key;
        if (auto result = vfu::PackageSignature::loadSecretKey (keyFile, key); result.failed())
            vfu::tool::fail (result.getErrorMessage());

        juce::MemoryBlock signedPackage;
        if (auto result = vfu::PackageSignature::signPackage (package, key, signedPackage); result.failed())
            vfu::tool::fail ("Cannot sign the package: " + result.getErrorMessage());

        package = std::move (signedPackage);
        signedBy = "; signed by " + key.getPublicKey().keyId;
    }

    writeOrFail (out, package);

    vfu::tool::printLine (
        "Wrote " + out.getFullPathName() + " with " + juce::String ((int) images.size()) + " image(s); version " +
        (version < 0 ? juce::String ("none (the name has no \"-\" or \"fw.\")") : vfu::formatVersionNumber (version)) +
        (signedBy.isEmpty() ? juce::String ("; unsigned") : signedBy));
    return vfu::tool::exitSuccess;
}

struct PackagesOptions
{
    std::string program, device, definition;
    std::vector<std::string> paths;
};

// The images the device's machine sends, from the definition FILE or the inbuilt document: the
// app accepts for that model only packages that hold them all.
juce::StringArray requiredImagesFor (const PackagesOptions& options)
{
    auto text = vfu::definitions::getInbuiltDefinitions();
    if (!options.definition.empty())
    {
        const auto file = vfu::tool::resolveDefinitionFile (options.definition);
        juce::MemoryBlock bytes;
        juce::String refusal;
        // Bounded, and never a FIFO or a device, as the app's loader reads it.
        if (!vfu::definitions::readDocumentFileBytes (file, bytes, refusal))
            vfu::tool::fail (refusal);
        text = vfu::textFromBytes (bytes.getData(), bytes.getSize());
    }

    vfu::tool::requireDeviceModel (options.definition.empty() ? juce::File() : resolve (options.definition),
                                   vfu::tool::toJuce (options.device));

    vfu::UpdaterEnvironment environment;
    environment.programFile = juce::File(); // collects nothing itself
    try
    {
        const FirmwareUpdater updater (text, vfu::tool::toJuce (options.device), false, nullptr, {}, environment);
        return vfu::definitions::getFirmwareImageKinds (*updater.getMachine());
    }
    catch (const FirmwareUpdater::FirmwareUpdaterException& e)
    {
        vfu::tool::fail (e.message);
    }
}

int listPackages (const PackagesOptions& options)
{
    const auto programFile = options.program.empty() ? juce::File() : resolve (options.program);

    juce::Array<juce::File> searchPaths;
    for (auto& path : options.paths)
        searchPaths.add (resolve (path));

    vfu::FirmwarePackageStore store;
    if (!options.device.empty())
        store.setRequiredImages (requiredImagesFor (options));
    else if (!options.definition.empty())
        vfu::tool::failUsage ("--definition needs --device");

    store.collect (programFile, searchPaths);

    // Accepted ones ascending by version number (as the app lists them), rejected ones in the
    // order collection looked at them.
    std::vector<vfu::FirmwarePackageStore::Finding> acceptedFindings;
    juce::Array<juce::var> accepted, rejected;

    for (auto& finding : store.getFindings())
    {
        if (finding.reason.isEmpty())
        {
            acceptedFindings.push_back (finding);
            continue;
        }

        auto* item = new juce::DynamicObject();
        item->setProperty ("source", finding.source);
        item->setProperty ("reason", finding.reason);
        rejected.add (juce::var (item));
    }

    std::sort (acceptedFindings.begin(), acceptedFindings.end(),
               [] (auto& a, auto& b) { return a.versionNumber < b.versionNumber; });

    for (auto& finding : acceptedFindings)
    {
        auto* item = new juce::DynamicObject();
        item->setProperty ("version", vfu::formatVersionNumber (finding.versionNumber));
        item->setProperty ("versionNumber", finding.versionNumber);
        item->setProperty ("source", finding.source);
        item->setProperty ("signature", finding.signature);
        accepted.add (juce::var (item));
    }

    auto* result = new juce::DynamicObject();
    result->setProperty ("accepted", accepted);
    result->setProperty ("rejected", rejected);
    vfu::tool::printLine (juce::JSON::toString (juce::var (result)));

    if (accepted.isEmpty())
        vfu::tool::fail ("No firmware package was accepted.");

    return vfu::tool::exitSuccess;
}

const vfu::tool::CommandRegistration makeImageCommand ({
    "make-image",
    "Writes a firmware image for a simulated instrument",
    "Writes one SysEx firmware image of exactly BYTES bytes for MODEL (quillbox, lumostrel or orb26) and\n"
    "version TEXT, in the layout the simulated instruments accept. The same arguments give the same bytes.",
    "",
    [] (CLI::App& app) -> std::function<int()>
    {
        auto options = std::make_shared<MakeImageOptions>();
        vfu::tool::required (app.add_option ("--model", options->model, "quillbox, lumostrel or orb26"));
        vfu::tool::required (
            app.add_option ("--version", options->version, "The firmware version the image carries, e.g. 2.2.1"));
        vfu::tool::required (vfu::tool::addWholeNumberOption (app, "--size", options->size, "The image's size in bytes",
                                                              (long long) vfu::FirmwareImage::minimumSize,
                                                              vfu::FirmwarePackageStore::maximumImageSize));
        vfu::tool::required (app.add_option ("-o,--output", options->output, "The image file to write (FILE.syx)"));
        return [options] { return makeImage (*options); };
    },
});

const vfu::tool::CommandRegistration packCommand ({
    "pack",
    "Builds a firmware package from images",
    "Writes the package OUT.vfw holding BASENAME.sha (the SHA-256 digest of every image) and the images,\n"
    "deflated. The package's version comes from BASENAME: the text after its last \"-\", e.g.\n"
    "quillbox-fw-2.2.1 gives 2.2.1. With --sign, BASENAME.sig holds the Ed25519 signature of the list\n"
    "made with the secret key file (vfu keygen writes one). An image in the layout vfu make-image writes\n"
    "that reports another version than BASENAME gives is packed with a warning on standard error\n"
    "(\"Warning: NAME reports version V, the package name says W\"): the update would end in failure.",
    "",
    [] (CLI::App& app) -> std::function<int()>
    {
        auto options = std::make_shared<PackOptions>();
        vfu::tool::required (
            app.add_option ("--name", options->name, "The checksum list's base name, e.g. quillbox-fw-2.2.1"));
        vfu::tool::required (app.add_option ("-o,--output", options->output, "The package file to write (OUT.vfw)"));
        vfu::tool::required (app.add_option ("IMAGE", options->images, "A firmware image (.syx) to pack"));
        app.add_option ("--sign", options->signingKey, "Sign the package with this secret key file (NAME.key)");
        return [options] { return pack (*options); };
    },
});

const vfu::tool::CommandRegistration packagesCommand ({
    "packages",
    "Shows which firmware packages collection accepts and why others are skipped",
    "Collects packages as the app does: from FILE's appended archive, then from each PATH in order (a\n"
    "folder's *.vfw files, or a file). Prints one JSON object: \"accepted\" (version, versionNumber, source,\n"
    "signature: \"unsigned\" or \"signed by KEYID\"; ascending) and \"rejected\" (source, reason; a package replaced "
    "by a later one of the same version\n"
    "is listed here too). With --device, a package must also hold every image that device's machine\n"
    "sends (from --definition, or the inbuilt document), as the app requires. Exits 1 when\n"
    "nothing is accepted.",
    "",
    [] (CLI::App& app) -> std::function<int()>
    {
        auto options = std::make_shared<PackagesOptions>();
        app.add_option ("--program", options->program, "A program file whose appended archive is collected first");
        app.add_option ("--device", options->device,
                        "Accept only packages holding every image this device's machine sends");
        app.add_option ("--definition", options->definition,
                        "The definition document for --device (default: the inbuilt one)");
        app.add_option ("PATH", options->paths, "A folder or package file to collect from, in order");
        return [options] { return listPackages (*options); };
    },
});
} // namespace
