// vfu_bench_packages: how long the start-up package collection takes for the delivered package.
// Bundles a copy of this executable the way the build bundles the app, then times collection
// over it (open the program file as an archive, read and check quillbox-fw-2.2.1.vfw and the
// metadata entry) and, separately, the check of the package bytes alone.
#include "packages/DeliveredPackage.h"
#include "packages/FirmwarePackageStore.h"
#include "packages/ProgramArchive.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <iostream>
#include <vector>

namespace
{
template <typename Work> void report (const char* label, int runs, Work&& work)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i)
    {
        const auto start = juce::Time::getMillisecondCounterHiRes();
        work();
        ms.push_back (juce::Time::getMillisecondCounterHiRes() - start);
    }

    std::sort (ms.begin(), ms.end());
    std::cout << label << ": median " << juce::String (ms[ms.size() / 2], 2) << " ms, min "
              << juce::String (ms.front(), 2) << " ms, max " << juce::String (ms.back(), 2) << " ms over " << runs
              << " runs" << std::endl;
}
} // namespace

int main (int argc, char* argv[])
{
    juce::ScopedJuceInitialiser_GUI juceInitialiser;
    const int runs = argc > 1 ? juce::jmax (1, juce::String (argv[1]).getIntValue()) : 20;

    juce::TemporaryFile program (".bundled");
    const auto self = juce::File::getSpecialLocation (juce::File::currentExecutableFile);
    if (!self.copyFileTo (program.getFile()) ||
        vfu::ProgramArchive::appendTo (program.getFile(), vfu::DeliveredPackage::createProgramArchive()).failed())
    {
        std::cerr << "cannot bundle a copy of " << self.getFullPathName() << std::endl;
        return 1;
    }

    std::cout << "bundled program: " << program.getFile().getSize() << " bytes" << std::endl;

    report ("collection from the bundled program", runs,
            [&]
            {
                vfu::FirmwarePackageStore store;
                store.collect (program.getFile(), {});
                if (store.getFirmwareVersions() != juce::StringArray ("2.2.1"))
                    std::abort();
            });

    const auto package = vfu::DeliveredPackage::createPackage();
    report ("check of the package bytes", runs,
            [&]
            {
                if (vfu::FirmwarePackageStore::checkPackageData (package) != 2020199)
                    std::abort();
            });

    vfu::FirmwarePackageStore store;
    store.collect (program.getFile(), {});
    store.setFirmwareVersion ("2.2.1");
    report ("readSelectedImage (the transfer's read)", runs,
            [&]
            {
                juce::MemoryBlock image;
                juce::String entryName, versionText;
                if (store.readSelectedImage ("quillbox-fw-$(version)", image, entryName, versionText) !=
                    vfu::FirmwarePackageStore::ImageReadResult::ok)
                    std::abort();
            });

    return 0;
}
