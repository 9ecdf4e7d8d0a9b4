#include "RunVerdict.h"

#include "engine/HeadlessUpdate.h"
#include "core/VersionNumber.h"
#include "midi/MIDIPortsSelector.h"
#include "packages/FirmwarePackageStore.h"

namespace vfu::tool
{
void RunVerdict::stateEntered (const juce::String& newState)
{
    auto& selector = updater.getPortsSelector();
    const bool inFirmware = selector.isDeviceDetected() && !selector.isBootloaderDetected();
    const auto version = inFirmware ? selector.getFirmwareVersion() : juce::String();

    std::lock_guard<std::mutex> guard (lock);
    state = newState;
    entryMark = updater.getCompletedStateEntries();
    identified = inFirmware;
    identifiedVersion = version;
}

void RunVerdict::progressChanged (double fraction)
{
    std::lock_guard<std::mutex> guard (lock);
    transferSeen = transferSeen || fraction > 0.0;
}

void RunVerdict::buttonChanged (bool enabled)
{
    std::lock_guard<std::mutex> guard (lock);
    buttonEnabled = enabled;
}

void RunVerdict::instructionsShown (const juce::String& text)
{
    std::lock_guard<std::mutex> guard (lock);
    instructions = text;
}

bool RunVerdict::entryDone() const
{
    return entryMark >= 0 && updater.getCompletedStateEntries() > entryMark;
}

bool RunVerdict::restsInErrorState (const juce::StringArray& clickedStates) const
{
    std::lock_guard<std::mutex> guard (lock);
    return entryDone() && HeadlessUpdate::isErrorState (state) && !clickedStates.contains (state);
}

RunVerdict::Result RunVerdict::judge() const
{
    const auto package = updater.getPackageStore().getSelectedVersionText();
    std::lock_guard<std::mutex> guard (lock);

    if (HeadlessUpdate::isErrorState (state))
        return { 1, "result: failed: reached " + state.quoted() +
                        (instructions.isNotEmpty() ? ": " + instructions.replaceCharacters ("\r\n", "  ").trim()
                                                   : juce::String()) };

    if (!transferSeen || buttonEnabled)
        return { 0, "result: stopped in " + state.quoted() + ", before the update's end" };

    if (!identified)
        return { 1, "result: failed: the instrument was not identified in its firmware after the transfer" };

    if (parseVersionNumber (identifiedVersion) != parseVersionNumber (package))
        return { 1, "result: failed: the instrument reports " + identifiedVersion + ", the package is " + package };

    return { 0, "result: succeeded, installed " + identifiedVersion + " (package " + package + ")" };
}

juce::StringArray RunVerdict::findUnknownStates (const FirmwareUpdater& updater, const juce::StringArray& names)
{
    juce::StringArray unknown;
    const auto* machine = updater.getMachine();
    for (auto& name : names)
        if (machine == nullptr || machine->getState (name) == nullptr)
            unknown.addIfNotAlreadyThere (name);

    return unknown;
}
} // namespace vfu::tool
