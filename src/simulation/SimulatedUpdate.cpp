#include "simulation/SimulatedUpdate.h"

#include "definitions/InbuiltDefinitions.h"
#include "midi/MIDIPortsSelector.h"

namespace vfu
{
SimulatedUpdate::SimulatedUpdate (const simulation::InstrumentSettings& instrument, const Options& options,
                                  FirmwareUpdaterCallback* receiverToUse)
    : receiver (receiverToUse)
{
    if (options.clock == nullptr && options.speed > 1.0)
        ownClock = std::make_unique<ScaledClock> (options.speed);

    clock = options.clock != nullptr ? options.clock : ownClock != nullptr ? ownClock.get() : &Clock::getRealClock();
    simulation = std::make_unique<simulation::Simulation> (instrument, options.silentPorts, *clock,
                                                           options.openPortsOnMessageThread);
    MidiLayer* layer = &simulation->getLayer();
    if (options.recordingFile != juce::File())
    {
        auto output = RecordingMidiLayer::createFile (options.recordingFile, problem);
        if (output == nullptr)
            return;
        recorder = std::make_unique<RecordingMidiLayer> (*layer, *clock, std::move (output), options.programName,
                                                         options.deviceName);
        layer = recorder.get();
    }

    selector = std::make_unique<MIDIPortsSelector> (*layer, *clock);
    user = std::make_unique<simulation::SimulatedUser> (simulation->getInstrument(), options.userReactionMilliseconds);

    UpdaterEnvironment environment;
    environment.portsSelector = selector.get();
    environment.clock = clock;
    environment.programFile = juce::File();
    environment.holdPower = options.holdPower;

    FirmwareUpdaterCallback* const self = this;

    if (options.definitionText.isNotEmpty())
        updater = std::make_unique<FirmwareUpdater> (options.definitionText, options.deviceName, false, self,
                                                     options.packageFiles, environment);
    else if (options.definitionFile != juce::File())
        updater = std::make_unique<FirmwareUpdater> (options.definitionFile, options.deviceName, false, self,
                                                     options.packageFiles, environment);
    else
        updater = std::make_unique<FirmwareUpdater> (definitions::getInbuiltDefinitions(), options.deviceName, false,
                                                     self, options.packageFiles, environment);

    if (updater->getMachine() == nullptr)
    {
        problem = "The definitions hold no state machine for '" + options.deviceName + "'.";
        return;
    }

    const auto version =
        options.firmwareVersion.isNotEmpty() ? options.firmwareVersion : updater->getLatestFirmwareVersion();
    if (version.isEmpty())
        problem = "No firmware file was found.";
    else if (!updater->setFirmwareVersion (version))
        problem = "No firmware package has the version " + version.quoted() + ".";
}

SimulatedUpdate::~SimulatedUpdate()
{
    // The engine first: it uses the selector, which listens to the layer's ports.
    updater = nullptr;
    user = nullptr;
    selector = nullptr;
    recorder = nullptr;
    simulation = nullptr;
}

void SimulatedUpdate::stateChanged (juce::String previousState, juce::String newState)
{
    if (receiver != nullptr)
        receiver->stateChanged (previousState, newState);

    user->instructionsShown (newState);
}

void SimulatedUpdate::textFieldChanged (juce::String name, juce::String text, bool visible)
{
    if (receiver != nullptr)
        receiver->textFieldChanged (name, text, visible);
}

void SimulatedUpdate::buttonChanged (juce::String name, juce::String text, bool enabled)
{
    if (receiver != nullptr)
        receiver->buttonChanged (name, text, enabled);
}

void SimulatedUpdate::printMessage (juce::String text, bool flag)
{
    if (receiver != nullptr)
        receiver->printMessage (text, flag);
}

void SimulatedUpdate::progressChanged (double fraction)
{
    if (receiver != nullptr)
        receiver->progressChanged (fraction);
}

void SimulatedUpdate::warningShown (juce::String text)
{
    if (receiver != nullptr)
        receiver->warningShown (text);
}

void SimulatedUpdate::noticeChanged (Notice which, juce::String text)
{
    if (receiver != nullptr)
        receiver->noticeChanged (which, text);
}

void SimulatedUpdate::guardChanged (bool guarded)
{
    if (receiver != nullptr)
        receiver->guardChanged (guarded);
}

void SimulatedUpdate::timeLeftChanged (double secondsLeft)
{
    if (receiver != nullptr)
        receiver->timeLeftChanged (secondsLeft);
}

juce::StringArray SimulatedUpdate::getFaultNames()
{
    return { "drop-replies",    "reply-delay=MS",     "garble-replies", "short-replies",
             "unrelated-sysex", "vanish-after=BYTES", "never-come-back" };
}

bool SimulatedUpdate::applyFault (simulation::InstrumentFaults& faults, const juce::String& fault, juce::String& error)
{
    const auto name = fault.upToFirstOccurrenceOf ("=", false, false).trim().toLowerCase();
    const bool hasValue = fault.containsChar ('=');
    const auto valueText = fault.fromFirstOccurrenceOf ("=", false, false).trim();

    auto readValue = [&] (int& target)
    {
        if (!hasValue || valueText.isEmpty() || !valueText.containsOnly ("0123456789") || valueText.length() > 9)
        {
            error = "--fault " + name + " needs =N with a whole number, not " + fault.quoted();
            return false;
        }
        target = valueText.getIntValue();
        return true;
    };

    auto flag = [&] (bool& target)
    {
        if (hasValue)
        {
            error = "--fault " + name + " takes no value";
            return false;
        }
        target = true;
        return true;
    };

    if (name == "drop-replies")
        return flag (faults.dropReplies);
    if (name == "garble-replies")
        return flag (faults.garbleReplies);
    if (name == "short-replies")
        return flag (faults.shortReplies);
    if (name == "unrelated-sysex")
        return flag (faults.unrelatedSysExFirst);
    if (name == "never-come-back")
        return flag (faults.neverComeBack);
    if (name == "reply-delay")
        return readValue (faults.extraReplyDelayMs);
    if (name == "vanish-after")
        return readValue (faults.vanishAfterTransferBytes);

    error = "Unknown fault " + fault.quoted() + " (known: " + getFaultNames().joinIntoString (", ") + ")";
    return false;
}
} // namespace vfu
