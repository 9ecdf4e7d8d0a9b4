#pragma once

#include <juce_audio_devices/juce_audio_devices.h>

#include "midi/MidiLayer.h"
#include "midi/PollResult.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

namespace vfu
{
class Clock;
namespace protocol
{
struct SysExBody;
}
} // namespace vfu

// The program-wide MIDI port choice and device detection: sends the identity, alternative and
// panel state requests, classifies every reply, and performs the polls the engine asks for.
// Replies in MIDIPortsSelector.cpp (their bytes are read in InstrumentProtocol.cpp), port scanning
// and polls in PortScanning.cpp, device opening (on the message thread for the real layer) in
// DeviceOpening.cpp.
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
    // The other programs connected to the chosen input and output (the ports themselves, by their
    // identifiers), each once and on one line; empty while both are Auto or the system cannot tell.
    juce::StringArray getOtherProgramsConnectedToChosenPorts();

    // ----- Ports another program holds (PortsInUse.cpp) -----
    // The instrument's ports that the latest attempt to open them found held by another program, as
    // "input [name] (result)" and "output [name] (result)", inputs first; with a choice of Auto every
    // listed port of that direction counts, since any of them may be the instrument's.
    juce::StringArray getPortsInUse();

    // ----- Port lists (system order), for the panel's selectors -----
    juce::StringArray getInputNames();
    juce::StringArray getOutputNames();

    vfu::MidiLayer& getMidiLayer() const noexcept { return midiLayer; }
    vfu::Clock& getClock() const noexcept { return clock; }

    // How long one identity request waits for its reply, and the alternative inquiries of Orb 26.
    static constexpr int deviceInquiryWaitMilliseconds = 1000;
    static constexpr int alternativeInquiryAttempts = 5;
    static constexpr int alternativeInquiryWaitMilliseconds = 500;
    static constexpr int panelStateWaitMilliseconds = 1000;

private:
    using InputList = std::vector<std::unique_ptr<vfu::MidiInputConnection>>;

    void handleIdentityReply (const juce::String& sourceName, juce::uint16 id, const vfu::protocol::SysExBody& body);
    void selectInputFromReply (const juce::String& sourceName);
    void setFirmwareVersion (const juce::String& version);
    juce::String getOutputChoice() const;
    void setOutputPortName (const juce::String& name);
    void setOutputChoice (const juce::String& name, const juce::String& identifier,
                          const juce::StringArray& listedIdentifiers = {});
    void setInputChoice (int index, const vfu::MidiLayer::PortList& ports);
    int findChosenInput();
    PollResult inquire (const juce::String& outputName, const juce::String& outputIdentifier, int waitMilliseconds);

    // The steps of pollDevice: identity requests with every input open (Auto) or only the chosen
    // one, each asking the outputs until one answers.
    struct InquiryOutcome
    {
        PollResult result = NoDevice;
        bool stopped = false; // the worker was asked to stop: the poll ends as aborted
    };
    void startPoll (juce::uint16 deviceId);
    InquiryOutcome scanAllInputs();
    InquiryOutcome scanChosenInput();
    InquiryOutcome askOutputs (bool rememberOutput);

    PollResult confirmApplicationFirmware (bool checkPanelMode);
    std::unique_ptr<vfu::MidiInputConnection> openAndStartInput (int index);
    static void stopAndClose (InputList& inputs);
    static void stopAndClose (std::unique_ptr<vfu::MidiInputConnection>& input);

    // Device opening: directly, or on the message thread for layers that need it, while the
    // calling worker keeps noticing a stop request (DeviceOpening.cpp).
    std::unique_ptr<vfu::MidiInputConnection> openInputDevice (int index);
    std::unique_ptr<vfu::MidiOutputConnection> openOutputDevice (int index);

    static bool workerShouldStop();

    // Keeps what an open found: a port held by another program is remembered until it opens, or
    // fails for another reason. An Auto input scan forgets the inputs first: it tries them all.
    void noteOpening (bool input, const juce::String& listedName, bool opened, const vfu::OpenRefusal& refusal);
    void forgetHeldInputs();

    vfu::MidiLayer& midiLayer;
    vfu::Clock& clock;

    // Guards deviceID, the two names and identifiers, firmwareVersion, alternativeReplyReceived, panelState
    // and the held ports; held only for single reads and writes, never across a device operation or a wait.
    mutable std::mutex lock;

    std::atomic<int> inputPortIndex{ -1 };
    std::atomic<int> outputPortIndex{ -1 };
    juce::String inputPortName{ "Auto" };
    juce::String outputPortName{ "Auto" };

    // The identifiers of the chosen ports (empty for Auto): a chosen port is the port, not a place
    // in a list or a name that a twin may take while it restarts. A port listed beside a chosen
    // one is never taken for it when it comes back under a new identifier.
    juce::String inputPortIdentifier, outputPortIdentifier;
    juce::StringArray portsBesideInput, portsBesideOutput;
    juce::uint16 deviceID = 0xFFFF;
    juce::String firmwareVersion{ "Unknown" };
    std::atomic<bool> bootloaderDetected{ false };
    std::atomic<bool> deviceDetected{ false };
    bool alternativeReplyReceived = false;
    int panelState = 0;
    std::map<juce::String, juce::String> heldInputs, heldOutputs; // listed name -> the system's result

    // Cleared on destruction, so that an open still queued on the message thread for a worker that
    // gave up does not reach a deleted selector.
    std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>> (true);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MIDIPortsSelector)
};
