#pragma once

#include "definitions/FirmwareUpdater.h"
#include "packages/FirmwarePackageWriter.h"
#include "core/Clock.h"
#include "engine/FirmwareUpdaterCallback.h"
#include "midi/MIDIPortsSelector.h"
#include "midi/VirtualMidiLayer.h"
#include "support/MessageLoop.h"
#include "support/TestEnvironment.h"

#include <functional>
#include <mutex>
#include <vector>

namespace vfu::test
{
// Records every report as one line ("stateChanged|none|Idle", "progressChanged|0.5", ...) with the
// clock time at which it arrived. Reports arrive on the message thread; tests read on it too.
class RecordingCallback final : public FirmwareUpdaterCallback
{
public:
    explicit RecordingCallback (Clock& clockToUse) : clock (clockToUse) {}

    void stateChanged (juce::String previousState, juce::String newState) override
    {
        add ("stateChanged|" + previousState + "|" + newState);
    }

    void textFieldChanged (juce::String name, juce::String text, bool visible) override
    {
        add ("textFieldChanged|" + name + "|" + text + "|" + (visible ? "true" : "false"));
    }

    void buttonChanged (juce::String name, juce::String text, bool enabled) override
    {
        add ("buttonChanged|" + name + "|" + text + "|" + (enabled ? "true" : "false"));
    }

    void printMessage (juce::String text, bool flag) override
    {
        add ("printMessage|" + text + "|" + (flag ? "true" : "false"));
    }

    void progressChanged (double fraction) override { add ("progressChanged|" + juce::String (fraction)); }

    void warningShown (juce::String text) override { add ("warningShown|" + text); }

    // The reports around the guarded phase, recorded only when asked for (withGuardReports), so
    // that the line lists of the other tests stay as they are.
    // The port-in-use line belongs to every test's list; the guarded phase's lines only when asked for.
    void noticeChanged (Notice which, juce::String text) override
    {
        if (withGuardReports || which == Notice::portInUse)
            add ("noticeChanged|" + juce::String ((int) which) + "|" + text);
    }

    void guardChanged (bool guarded) override
    {
        if (withGuardReports)
            add (juce::String ("guardChanged|") + (guarded ? "true" : "false"));
    }

    void timeLeftChanged (double secondsLeft) override
    {
        if (withGuardReports)
            add ("timeLeftChanged|" + juce::String (secondsLeft));
    }

    bool withGuardReports = false; // set before the engine starts

    juce::StringArray getLines() const
    {
        const std::lock_guard<std::mutex> sl (lock);
        return lines;
    }

    int indexOf (const juce::String& line, int start = 0) const { return getLines().indexOf (line, false, start); }

    // Index of the first entry into the state, or -1.
    int indexOfEntry (const juce::String& stateName) const
    {
        const auto all = getLines();
        for (int i = 0; i < all.size(); ++i)
            if (all[i].startsWith ("stateChanged|") && all[i].fromLastOccurrenceOf ("|", false, false) == stateName)
                return i;
        return -1;
    }

    bool hasEntered (const juce::String& stateName) const { return indexOfEntry (stateName) >= 0; }

    juce::int64 getTime (int index) const
    {
        const std::lock_guard<std::mutex> sl (lock);
        return juce::isPositiveAndBelow (index, (int) times.size()) ? times[(size_t) index] : -1;
    }

    // The states entered, in order.
    juce::StringArray getStates() const
    {
        juce::StringArray states;
        for (auto& line : getLines())
            if (line.startsWith ("stateChanged|"))
                states.add (line.fromLastOccurrenceOf ("|", false, false));
        return states;
    }

    juce::StringArray getProgressLines() const
    {
        juce::StringArray result;
        for (auto& line : getLines())
            if (line.startsWith ("progressChanged|"))
                result.add (line);
        return result;
    }

    // Called on the message thread after each report has been recorded.
    std::function<void (const juce::String&)> onReport;

private:
    void add (const juce::String& line)
    {
        {
            const std::lock_guard<std::mutex> sl (lock);
            lines.add (line);
            times.push_back (clock.now());
        }

        if (onReport)
            onReport (line);
    }

    Clock& clock;
    mutable std::mutex lock;
    juce::StringArray lines;
    std::vector<juce::int64> times;
};

// A small definition document for the device "Test" (device ID 0008) around the given states.
inline juce::String makeDocument (const juce::String& states, const juce::String& initialState = "A",
                                  const juce::String& timeoutState = "A", const juce::String& deviceId = "0008")
{
    return "<FirmwareUpdaters><FirmwareUpdater deviceName=\"Test\" communicationMode=\"MIDI\" MIDIDeviceID=\"" +
           deviceId + "\" fileNamePattern=\"test-fw-\" initialState=\"" + initialState +
           "\" timeout=\"45\" timeoutState=\"" + timeoutState + "\">" + states +
           "</FirmwareUpdater></FirmwareUpdaters>";
}

// A package "test-fw-<version>.vfw" in the folder holding the given images.
inline juce::File writePackage (const juce::File& folder, const juce::String& version,
                                const std::vector<std::pair<juce::String, juce::MemoryBlock>>& images)
{
    std::vector<ArchiveWriter::Entry> entries;
    for (auto& image : images)
        entries.push_back ({ image.first, image.second, true });

    const auto data = ArchiveWriter::createPackage ("test-fw-" + version, entries);
    auto file = folder.getChildFile ("test-fw-" + version + ".vfw");
    file.replaceWithData (data.getData(), data.getSize());
    return file;
}

// A device that records what the host sends and answers nothing.
class RecordingDevice final : public VirtualMidiLayer::Device
{
public:
    void receiveFromHost (const juce::MidiMessage& message) override
    {
        const std::lock_guard<std::mutex> sl (lock);
        messages.push_back (message);
        bytes.append (message.getRawData(), (size_t) message.getRawDataSize());
    }

    std::vector<juce::MidiMessage> getMessages() const
    {
        const std::lock_guard<std::mutex> sl (lock);
        return messages;
    }

    juce::MemoryBlock getBytes() const
    {
        const std::lock_guard<std::mutex> sl (lock);
        return bytes;
    }

    size_t getNumBytes() const
    {
        const std::lock_guard<std::mutex> sl (lock);
        return bytes.getSize();
    }

private:
    mutable std::mutex lock;
    std::vector<juce::MidiMessage> messages;
    juce::MemoryBlock bytes;
};

// One updater over a virtual MIDI layer and a fast clock, reporting to a RecordingCallback.
// Members are destroyed in reverse order: the updater (and its thread) first.
class EngineHarness
{
public:
    explicit EngineHarness (const juce::String& document, double speed = 50.0,
                            juce::Array<juce::File> searchFolders = {})
        : clock (speed), layer (clock), selector (layer, clock), callback (clock)
    {
        UpdaterEnvironment environment;
        environment.portsSelector = &selector;
        environment.clock = &clock;
        environment.programFile = juce::File();
        updater = std::make_unique<FirmwareUpdater> (document, "Test", false, &callback, searchFolders, environment);
    }

    ~EngineHarness()
    {
        if (updater != nullptr)
            updater->stopThread (5000);
    }

    // Adds a recording device and chooses its ports, so that transfers and "MIDI ports" polls use it.
    RecordingDevice& addChosenRecordingDevice (const juce::String& name = "Test Port")
    {
        auto& device = layer.addDevice (name, std::make_unique<RecordingDevice>());
        selector.selectInputPort (name);
        selector.selectOutputPort (name);
        return device;
    }

    bool waitForState (const juce::String& stateName, int timeoutMs = 20000)
    {
        return runMessageLoopUntil ([&] { return callback.hasEntered (stateName); }, timeoutMs);
    }

    bool waitFor (const std::function<bool()>& condition, int timeoutMs = 20000)
    {
        return runMessageLoopUntil (condition, timeoutMs);
    }

    ScaledClock clock;
    VirtualMidiLayer layer;
    MIDIPortsSelector selector;
    RecordingCallback callback;
    std::unique_ptr<FirmwareUpdater> updater;
};

// A stop measured in real milliseconds.
inline int timeStopMilliseconds (FirmwareUpdater& updater, int timeoutMs, bool& stopped)
{
    const auto start = juce::Time::getMillisecondCounter();
    stopped = updater.stopThread (timeoutMs);
    return (int) (juce::Time::getMillisecondCounter() - start);
}
} // namespace vfu::test
