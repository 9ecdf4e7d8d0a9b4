#include "simulation/ReplayedUpdate.h"

#include "definitions/InbuiltDefinitions.h"
#include "midi/MIDIPortsSelector.h"

namespace vfu
{
ReplayedUpdate::ReplayedUpdate (recording::Recording recording, const Options& options,
                                FirmwareUpdaterCallback* receiver)
{
    if (options.clock == nullptr && options.speed > 1.0)
        ownClock = std::make_unique<ScaledClock> (options.speed);
    clock = options.clock != nullptr ? options.clock : ownClock != nullptr ? ownClock.get() : &Clock::getRealClock();

    const auto model = recording.model;
    const auto recordedVersion = recording.packageVersion;

    layer = std::make_unique<VirtualMidiLayer> (*clock, true);
    replay = std::make_unique<simulation::RecordingReplay> (std::move (recording), *layer);
    selector = std::make_unique<MIDIPortsSelector> (*layer, *clock);

    UpdaterEnvironment environment;
    environment.portsSelector = selector.get();
    environment.clock = clock;
    environment.programFile = juce::File();

    if (options.definitionFile != juce::File())
        updater = std::make_unique<FirmwareUpdater> (options.definitionFile, model, false, receiver,
                                                     options.packageFiles, environment);
    else
        updater = std::make_unique<FirmwareUpdater> (definitions::getInbuiltDefinitions(), model, false, receiver,
                                                     options.packageFiles, environment);

    if (updater->getMachine() == nullptr)
    {
        problem = "The definitions hold no state machine for '" + model + "'.";
        return;
    }

    auto version = options.firmwareVersion;
    if (version.isEmpty())
        version = recordedVersion.isNotEmpty() ? recordedVersion : updater->getLatestFirmwareVersion();

    if (version.isEmpty())
        problem = "No firmware file was found.";
    else if (!updater->setFirmwareVersion (version))
        problem = "No firmware package has the version " + version.quoted() + ".";
}

ReplayedUpdate::~ReplayedUpdate()
{
    // The engine first, then the layer (its thread may still play the recording), then the replay.
    updater = nullptr;
    selector = nullptr;
    layer = nullptr;
    replay = nullptr;
}

void ReplayedUpdate::start()
{
    replay->start();
    updater->startThread();
}
} // namespace vfu
