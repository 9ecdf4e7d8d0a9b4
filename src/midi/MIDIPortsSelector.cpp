#include "midi/MIDIPortsSelector.h"

#include "midi/InstrumentProtocol.h"
#include "midi/JuceMidiLayer.h"
#include "core/Log.h"
#include "core/Clock.h"
#include "core/VersionNumber.h"

MIDIPortsSelector::MIDIPortsSelector (vfu::MidiLayer& layerToUse, vfu::Clock& clockToUse)
    : midiLayer (layerToUse), clock (clockToUse)
{
}

MIDIPortsSelector::~MIDIPortsSelector()
{
    alive->store (false);
}

MIDIPortsSelector& MIDIPortsSelector::getProgramWideInstance()
{
    static vfu::JuceMidiLayer layer;
    static MIDIPortsSelector selector (layer, vfu::Clock::getRealClock());
    return selector;
}

// ----- Requests -----

const juce::MidiMessage& MIDIPortsSelector::getIdentityRequest()
{
    return vfu::protocol::identityRequest();
}

const juce::MidiMessage& MIDIPortsSelector::getAlternativeDeviceInquiry()
{
    return vfu::protocol::alternativeDeviceInquiry();
}

juce::MidiMessage MIDIPortsSelector::createPanelStateRequest (juce::uint16 deviceId)
{
    return vfu::protocol::panelStateRequest (deviceId);
}

// ----- Replies -----

void MIDIPortsSelector::handleIncomingMidiMessage (juce::MidiInput* source, const juce::MidiMessage& message)
{
    handleIncomingMidi (source != nullptr ? source->getName() : juce::String(), message);
}

void MIDIPortsSelector::handleIncomingMidi (const juce::String& sourceName, const juce::MidiMessage& message)
{
    const auto body = vfu::protocol::bodyOf (message.getRawData(), message.getRawDataSize());
    if (body.data == nullptr)
        return;

    juce::uint16 id;
    {
        std::lock_guard<std::mutex> guard (lock);
        id = deviceID;
    }

    if (vfu::protocol::isIdentityReplyFrom (body, id))
    {
        handleIdentityReply (sourceName, id, body);
    }
    else if (vfu::protocol::isAlternativeReply (body))
    {
        std::lock_guard<std::mutex> guard (lock);
        alternativeReplyReceived = true;
    }
    else if (auto state = vfu::protocol::readPanelStateReply (body))
    {
        std::lock_guard<std::mutex> guard (lock);
        panelState = state;
    }
    else if (vfu::protocol::isBootloaderIdentityReply (body, id))
    {
        deviceDetected = true;
        setFirmwareVersion ({});
        bootloaderDetected = true;
        selectInputFromReply (sourceName);
    }
}

void MIDIPortsSelector::handleIdentityReply (const juce::String& sourceName, juce::uint16 id,
                                             const vfu::protocol::SysExBody& body)
{
    using Kind = vfu::protocol::IdentityReading::Kind;

    deviceDetected = true;
    selectInputFromReply (sourceName);

    const auto reading = vfu::protocol::readIdentityReply (id, body);
    if (reading.kind == Kind::unknownModel)
        return; // detected, but no version and no log line

    if (reading.kind == Kind::firmware)
    {
        setFirmwareVersion (reading.version);
        bootloaderDetected = false;
    }
    else if (reading.kind == Kind::bootloader)
    {
        setFirmwareVersion ({});
        bootloaderDetected = true;
    }

    auto line = "DeviceID " + juce::String::toHexString ((int) id).paddedLeft ('0', 4).toUpperCase() +
                " detected (firmware version : " + getFirmwareVersion();

    if (id == vfu::protocol::lumostrelId)
        line << ", bootloader = " << (bootloaderDetected ? "true" : "false");

    writeLog (line + ")");
}

void MIDIPortsSelector::selectInputFromReply (const juce::String& sourceName)
{
    if (inputPortIndex.load() != -1)
        return;

    const auto ports = midiLayer.getInputPorts();
    const auto& inputs = ports.names;
    const int index = inputs.indexOf (sourceName);

    // A source that is not (or no longer) in the list leaves the choice at Auto rather than
    // storing an index of -1 with an empty name.
    if (index < 0)
        return;

    // Replies can arrive on several inputs at once while all are open: the first one wins.
    int expected = -1;
    if (!inputPortIndex.compare_exchange_strong (expected, index))
        return;

    const auto name = inputs[index];
    {
        std::lock_guard<std::mutex> guard (lock);
        inputPortName = name;
        inputPortIdentifier = ports.identifiers[index];
        portsBesideInput.clear();
        for (auto& identifier : ports.identifiers)
            if (identifier != inputPortIdentifier)
                portsBesideInput.add (identifier);
    }

    writeLog ("Select MIDI input " + juce::String (index) + " : [" + name + "]");
}

// ----- Version texts and numbers -----

int MIDIPortsSelector::parseVersionNumber (const juce::String& versionText)
{
    return vfu::parseVersionNumber (versionText);
}

juce::String MIDIPortsSelector::formatVersionNumber (int versionNumber)
{
    return vfu::formatVersionNumber (versionNumber);
}

// ----- Detection results -----

void MIDIPortsSelector::setFirmwareVersion (const juce::String& version)
{
    std::lock_guard<std::mutex> guard (lock);
    firmwareVersion = version;
}

juce::String MIDIPortsSelector::getFirmwareVersion() const
{
    std::lock_guard<std::mutex> guard (lock);
    return firmwareVersion;
}

bool MIDIPortsSelector::isDeviceDetected() const
{
    return deviceDetected;
}

bool MIDIPortsSelector::isBootloaderDetected() const
{
    return bootloaderDetected;
}

bool MIDIPortsSelector::isAlternativeReplyReceived() const
{
    std::lock_guard<std::mutex> guard (lock);
    return alternativeReplyReceived;
}

int MIDIPortsSelector::getPanelState() const
{
    std::lock_guard<std::mutex> guard (lock);
    return panelState;
}

juce::uint16 MIDIPortsSelector::getDeviceID() const
{
    std::lock_guard<std::mutex> guard (lock);
    return deviceID;
}

void MIDIPortsSelector::setDeviceID (juce::uint16 deviceId)
{
    std::lock_guard<std::mutex> guard (lock);
    deviceID = deviceId;
}
