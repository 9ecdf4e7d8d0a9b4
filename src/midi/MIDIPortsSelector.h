#pragma once

#include <juce_audio_devices/juce_audio_devices.h>

#include "MidiLayer.h"
#include "PollResult.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace vfu
{
class Clock;
}

// The program-wide MIDI port choice and device detection: sends the identity, alternative and
// panel state requests, classifies every reply, and performs the polls the engine asks for.
// Identity protocol in MIDIPortsSelector.cpp, port scanning and polls in PortScanning.cpp.
class MIDIPortsSelector : public juce::MidiInputCallback, public vfu::MidiReceiver
{
public:
    MIDIPortsSelector (vfu::MidiLayer& midiLayer, vfu::Clock& clock);
    ~MIDIPortsSelector() override;

    // The selector of the shipped app: the real MIDI layer and the real clock.
    static MIDIPortsSelector& getProgramWideInstance();

    // ----- Replies (MIDI threads) -----
    void handleIncomingMidiMessage (juce::MidiInput* source, const juce::MidiMessage& message) override;
    void handleIncomingMidi (const juce::String& sourceName, const juce::MidiMessage& message) override;

    // ----- Version texts and numbers -----
    static int parseVersionNumber (const juce::String& versionText);
    static juce::String formatVersionNumber (int versionNumber);

    // ----- Requests -----
    static const juce::MidiMessage& getIdentityRequest();
    static const juce::MidiMessage& getAlternativeDeviceInquiry();
    static juce::MidiMessage createPanelStateRequest (juce::uint16 deviceId);

    // ----- Detection results -----
    juce::String getFirmwareVersion() const;
    bool isDeviceDetected() const;
    bool isBootloaderDetected() const;
    bool isAlternativeReplyReceived() const;
    int getPanelState() const;
    juce::uint16 getDeviceID() const;
    void setDeviceID (juce::uint16 deviceId);

    // ----- Port choice -----
    bool selectInputPort (const juce::String& name);
    bool selectOutputPort (const juce::String& name);
    bool resetInputPortToAuto();
    bool resetOutputPortToAuto();
    juce::String getInputPortName() const;
    juce::String getOutputPortName() const;
    int getInputPortIndex() const;
    int getOutputPortIndex() const;

    // ----- Polls (engine thread) -----
    PollResult pollDevice (juce::uint16 deviceId, bool checkPanelMode);
    PollResult sendDeviceInquiry (const juce::String& outputName, int waitMilliseconds);
    PollResult queryPanelState();
    PollResult checkSelectedPorts();
    std::unique_ptr<vfu::MidiOutputConnection> openSelectedOutput();

    // ----- Port lists (system order), for the panel's selectors -----
    juce::StringArray getInputNames();
    juce::StringArray getOutputNames();

    vfu::MidiLayer& getMidiLayer() const noexcept { return midiLayer; }
    vfu::Clock& getClock() const noexcept { return clock; }

private:
    vfu::MidiLayer& midiLayer;
    vfu::Clock& clock;

    // The private state of the identity protocol and the port scanning is added with them.

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MIDIPortsSelector)
};
