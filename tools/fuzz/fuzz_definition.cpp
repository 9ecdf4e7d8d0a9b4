// A definition document, as text through the text constructor (for Quillbox and, by the first
// byte, another model or console mode) and as the same bytes in a file through the file constructor.
#include "FuzzSupport.h"

#include "definitions/DefinitionGraph.h"
#include "definitions/DefinitionLint.h"
#include "definitions/FirmwareUpdater.h"
#include "core/Clock.h"
#include "midi/MIDIPortsSelector.h"
#include "midi/VirtualMidiLayer.h"

namespace
{
struct Fixture
{
    vfu::RealClock clock;
    vfu::VirtualMidiLayer layer{ clock };
    MIDIPortsSelector selector{ layer, clock };
    juce::File file = juce::File::getSpecialLocation (juce::File::tempDirectory)
                          .getNonexistentChildFile ("vfu-fuzz-definition", ".xml", false);

    vfu::UpdaterEnvironment environment()
    {
        vfu::UpdaterEnvironment e;
        e.portsSelector = &selector;
        e.clock = &clock;
        e.programFile = juce::File();
        return e;
    }
};

void load (const std::function<std::unique_ptr<FirmwareUpdater>()>& make)
{
    try
    {
        auto updater = make();
        // Read what the engine would read.
        if (auto* machine = updater->getMachine())
            (void) machine->getState (machine->initialStateName);
        (void) updater->getFirmwareVersions();
    }
    catch (const FirmwareUpdater::FirmwareUpdaterException& e)
    {
        if (e.message.isEmpty())
            __builtin_trap(); // a rejection always explains itself
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    vfu::fuzz::initialiseOnce();
    static Fixture fixture;

    static const char* const devices[] = { "Quillbox", "Lumostrel", "Orb 26", "" };
    const auto selectorByte = size > 0 ? data[0] : 0;
    const juce::String device = (selectorByte & 0x80) != 0 ? devices[selectorByte & 3] : "Quillbox";
    const bool consoleMode = (selectorByte & 0x40) != 0;

    const auto text = vfu::fuzz::textOf (data, size);
    load (
        [&]
        {
            return std::make_unique<FirmwareUpdater> (text, device, consoleMode, nullptr, juce::Array<juce::File>(),
                                                      fixture.environment());
        });

    // What vfu lint and vfu graph make of a document the loader accepts.
    const auto lint = vfu::definitions::lintDefinitionText (text, device, consoleMode);
    for (const auto& warning : lint.warnings)
        if (warning.code.isEmpty() || warning.message.isEmpty())
            __builtin_trap();

    if (lint.isLoaded())
        (void) vfu::definitions::writeDefinitionGraph (
            FirmwareUpdater (text, device, consoleMode, nullptr, juce::Array<juce::File>(), fixture.environment()));

    fixture.file.replaceWithData (data, size);
    load (
        [&]
        {
            return std::make_unique<FirmwareUpdater> (fixture.file, device, consoleMode, nullptr,
                                                      juce::Array<juce::File>(), fixture.environment());
        });
    return 0;
}
