// vfu make-image / pack / packages: build firmware images and packages, and show what package
// collection finds, with the same code the app uses.
#include "CommandRegistry.h"

#include "packages/FirmwarePackageStore.h"
#include "packages/FirmwarePackageWriter.h"
#include "midi/MIDIPortsSelector.h"
#include "packages/FirmwareImage.h"

#include <map>

namespace
{
juce::File resolve (const juce::String& path)
{
    return juce::File::getCurrentWorkingDirectory().getChildFile (path);
}

juce::String requireOption (const juce::ArgumentList& args, const juce::String& option)
{
    const auto value = vfu::tool::getOptionValue (args, option, {});
    if (value.isEmpty())
        vfu::tool::failUsage ("Missing " + option);
    return value;
}

juce::File getOutputFile (const juce::ArgumentList& args)
{
    auto out = vfu::tool::getOptionValue (args, "-o", {});
    if (out.isEmpty())
        out = requireOption (args, "--output");
    return resolve (out);
}

void writeOrFail (const juce::File& file, const juce::MemoryBlock& data)
{
    if (!file.getParentDirectory().createDirectory() || !file.replaceWithData (data.getData(), data.getSize()))
        juce::ConsoleApplication::fail ("Cannot write " + file.getFullPathName(), 1);
}

void makeImage (const juce::ArgumentList& args)
{
    const std::map<juce::String, juce::uint16> models{ { "quillbox", 0x0008 },
                                                       { "lumostrel", 0x000b },
                                                       { "orb26", 0x000c } };

    const auto model = requireOption (args, "--model").toLowerCase();
    const auto found = models.find (model);
    if (found == models.end())
        vfu::tool::failUsage ("Unknown model: " + model + " (quillbox, lumostrel or orb26)");

    const auto version = requireOption (args, "--version");
    const auto sizeText = requireOption (args, "--size");
    const auto size = sizeText.getLargeIntValue();

    if (!sizeText.containsOnly ("0123456789") || size < (juce::int64) vfu::FirmwareImage::minimumSize ||
        size > vfu::FirmwarePackageStore::maximumImageSize)
        vfu::tool::failUsage ("--size must be a whole number from " +
                              juce::String ((int) vfu::FirmwareImage::minimumSize) + " to " +
                              juce::String (vfu::FirmwarePackageStore::maximumImageSize));

    const auto out = getOutputFile (args);
    writeOrFail (out, vfu::FirmwareImage::generate (found->second, version, (size_t) size));
    vfu::tool::printLine ("Wrote " + out.getFullPathName() + " (" + juce::String (size) + " bytes)");
}

void pack (const juce::ArgumentList& args)
{
    const auto baseName = requireOption (args, "--name");
    const auto out = getOutputFile (args);
    const auto imagePaths = vfu::tool::getPositionalArguments (args, { "--name", "-o", "--output" });

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
            juce::ConsoleApplication::fail ("Cannot read " + file.getFullPathName(), 1);

        names.add (image.name);
        images.push_back (std::move (image));
    }

    writeOrFail (out, vfu::ArchiveWriter::createPackage (baseName, images));

    const auto version = vfu::FirmwarePackageStore::versionFromChecksumEntryName (baseName + ".sha");
    vfu::tool::printLine ("Wrote " + out.getFullPathName() + " with " + juce::String ((int) images.size()) +
                          " image(s); version " +
                          (version < 0 ? juce::String ("none (the name has no \"-\" or \"fw.\")")
                                       : MIDIPortsSelector::formatVersionNumber (version)));
}

void listPackages (const juce::ArgumentList& args)
{
    const auto programPath = vfu::tool::getOptionValue (args, "--program", {});
    const auto programFile = programPath.isEmpty() ? juce::File() : resolve (programPath);

    juce::Array<juce::File> searchPaths;
    for (auto& path : vfu::tool::getPositionalArguments (args, { "--program" }))
        searchPaths.add (resolve (path));

    vfu::FirmwarePackageStore store;
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
        item->setProperty ("version", MIDIPortsSelector::formatVersionNumber (finding.versionNumber));
        item->setProperty ("versionNumber", finding.versionNumber);
        item->setProperty ("source", finding.source);
        accepted.add (juce::var (item));
    }

    auto* result = new juce::DynamicObject();
    result->setProperty ("accepted", accepted);
    result->setProperty ("rejected", rejected);
    vfu::tool::printLine (juce::JSON::toString (juce::var (result)));

    if (accepted.isEmpty())
        juce::ConsoleApplication::fail ("No firmware package was accepted.", 1);
}

const vfu::tool::CommandRegistration makeImageCommand ({
    "make-image",
    "make-image --model MODEL --version TEXT --size BYTES -o FILE.syx",
    "Writes a firmware image for a simulated instrument",
    "Writes one SysEx firmware image of exactly BYTES bytes for MODEL (quillbox, lumostrel or orb26) and "
    "version TEXT, in the layout the simulated instruments accept. The same arguments give the same bytes.",
    [] (const juce::ArgumentList& args) { makeImage (args); },
});

const vfu::tool::CommandRegistration packCommand ({
    "pack",
    "pack --name BASENAME -o OUT.vfw IMAGE.syx...",
    "Builds a firmware package from images",
    "Writes the package OUT.vfw holding BASENAME.sha (the SHA-256 digest of every image) and the images, "
    "deflated. The package's version comes from BASENAME: the text after its last \"-\", e.g. "
    "quillbox-fw-2.2.1 gives 2.2.1.",
    [] (const juce::ArgumentList& args) { pack (args); },
});

const vfu::tool::CommandRegistration packagesCommand ({
    "packages",
    "packages [--program FILE] [PATH...]",
    "Shows which firmware packages collection accepts and why others are skipped",
    "Collects packages as the app does: from FILE's appended archive, then from each PATH in order (a "
    "folder's *.vfw files, or a file). Prints one JSON object: \"accepted\" (version, versionNumber, source; "
    "ascending) and \"rejected\" (source, reason; a package replaced by a later one of the same version "
    "is listed here too). Exits 1 when nothing is accepted.",
    [] (const juce::ArgumentList& args) { listPackages (args); },
});
} // namespace
