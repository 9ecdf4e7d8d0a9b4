// vfu_bundle: the build step that makes the delivered firmware package and appends it, inside a
// ZIP archive, to the linked program.
//   vfu_bundle package OUT.vfw     writes quillbox-fw-2.2.1.vfw
//   vfu_bundle program PROGRAM     appends (or replaces) the program archive, then checks that
//                                  collection over the program finds exactly version 2.2.1
//   vfu_bundle verify PROGRAM      only the check, for a copy that was installed or packaged
#include "packages/DeliveredPackage.h"
#include "packages/FirmwarePackageStore.h"
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

int writePackage (const juce::File& out)
{
    const auto package = vfu::DeliveredPackage::createPackage();

    if (!out.getParentDirectory().createDirectory() || !out.replaceWithData (package.getData(), package.getSize()))
        return fail ("cannot write " + out.getFullPathName());

    return 0;
}

// The program must find its own package, and nothing else, exactly as it will at start.
int verifyProgram (const juce::File& program)
{
    if (!program.existsAsFile())
        return fail ("no program at " + program.getFullPathName());

    vfu::FirmwarePackageStore store;
    store.collect (program, {});

    if (store.getFirmwareVersions() != juce::StringArray (vfu::DeliveredPackage::versionText))
        return fail ("the bundled program lists the versions \"" + store.getFirmwareVersions().joinIntoString (", ") +
                     "\" instead of " + vfu::DeliveredPackage::versionText);

    return 0;
}

int bundleProgram (const juce::File& program)
{
    if (auto result = vfu::ProgramArchive::appendTo (program, vfu::DeliveredPackage::createProgramArchive());
        result.failed())
        return fail (result.getErrorMessage());

    return verifyProgram (program);
}
} // namespace

int main (int argc, char* argv[])
{
    juce::ScopedJuceInitialiser_GUI juceInitialiser;

    if (argc == 3 && juce::String (argv[1]) == "package")
        return writePackage (juce::File::getCurrentWorkingDirectory().getChildFile (argv[2]));

    if (argc == 3 && juce::String (argv[1]) == "program")
        return bundleProgram (juce::File::getCurrentWorkingDirectory().getChildFile (argv[2]));

    if (argc == 3 && juce::String (argv[1]) == "verify")
        return verifyProgram (juce::File::getCurrentWorkingDirectory().getChildFile (argv[2]));

    std::cerr << "Usage: vfu_bundle package OUT.vfw | vfu_bundle program PROGRAM | vfu_bundle verify PROGRAM"
              << std::endl;
    return 2;
}
