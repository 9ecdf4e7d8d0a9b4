#include "midi/MIDIPortsSelector.h"

#include "midi/JuceMidiLayer.h"
#include "core/Log.h"
#include "core/Clock.h"

#include <limits>

namespace
{
// Body bytes (after F0) that every identity reply starts with: universal non-real-time, all
// devices, general information, identity reply, manufacturer 04h.
const juce::uint8 identityReplyHeader[] = { 0x7E, 0x7F, 0x06, 0x02, 0x04 };
constexpr int identityHeaderSize = 5;

// The identity reply is decoded up to body byte 12 (four revision bytes from byte 9); the
// Quillbox version needs bytes up to 10.
constexpr int revisionReplySize = 13;
constexpr int quillboxReplySize = 11;
constexpr int identityMatchSize = 7;

constexpr juce::uint16 quillboxId = 0x0008;
constexpr juce::uint16 lumostrelId = 0x000B;
constexpr juce::uint16 orb26Id = 0x000C;

bool startsWith (const juce::uint8* body, int size, std::initializer_list<juce::uint8> prefix)
{
    if (size < (int) prefix.size())
        return false;

    int i = 0;
    for (auto byte : prefix)
        if (body[i++] != byte)
            return false;

    return true;
}

bool hasIdentityHeader (const juce::uint8* body, int size, juce::uint16 id)
{
    return size >= identityMatchSize &&
           std::equal (identityReplyHeader, identityReplyHeader + identityHeaderSize, body) &&
           body[5] == (juce::uint8) (id >> 8);
}

// How many body bytes the identity handling reads for this device ID.
int identityReplySizeFor (juce::uint16 id)
{
    if (id == quillboxId)
        return quillboxReplySize;

    if (id == lumostrelId || id == orb26Id)
        return revisionReplySize;

    return identityMatchSize;
}

juce::String formatThree (int a, int b, int c)
{
    return juce::String (a) + "." + juce::String (b) + "." + juce::String (c);
}

// The version text of the four revision bytes b[9..12]; `ruleB` reads the 1.0.x shape of Orb 26.
juce::String revisionText (const juce::uint8* b, bool ruleB)
{
    if (b[9] != 0)
        return formatThree (b[10], b[11], b[12]) + "p" + juce::String (b[9]);

    if (!ruleB && b[10] == 0 && b[11] == 0x3F)
        return "1.0." + juce::String (b[12]);

    if (ruleB && b[10] == 0 && b[12] == 0x3F)
        return "1.0." + juce::String (b[11]);

    return formatThree (b[10], b[11], b[12]);
}

// The leading decimal integer of a token: leading blanks and a sign allowed, reading stops at the
// first non-digit, no digits give 0. Saturates instead of overflowing.
juce::int64 leadingInteger (const juce::String& token)
{
    auto p = token.getCharPointer().findEndOfWhitespace();
    bool negative = false;

    if (*p == '-' || *p == '+')
    {
        negative = *p == '-';
        ++p;
    }

    juce::int64 value = 0;
    while (juce::CharacterFunctions::isDigit (*p))
    {
        value = juce::jmin<juce::int64> (value * 10 + (*p - '0'), std::numeric_limits<int>::max());
        ++p;
    }

    return negative ? -value : value;
}

// Panel state reply byte to the poll outcome it reports; 0 for bytes that leave it unchanged.
int panelStateFromByte (juce::uint8 byte)
{
    switch (byte)
    {
        case 0:
            return PanelNoUpdate;
        case 1:
            return PanelErased;
        case 2:
            return PanelFirmwareSending;
        case 3:
            return PanelFirmwareSucceeded;
        case 4:
            return PanelNoUpdate;
        case 5:
            return PanelUpdateFailed;
        default:
            return 0;
    }
}
} // namespace

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
    static const juce::uint8 body[] = { 0x7E, 0x7F, 0x06, 0x01 };
    static const auto message = juce::MidiMessage::createSysExMessage (body, (int) sizeof (body));
    return message;
}

const juce::MidiMessage& MIDIPortsSelector::getAlternativeDeviceInquiry()
{
    static const juce::uint8 body[] = { 0x04, 0x0C, 0x16, 0x01 };
    static const auto message = juce::MidiMessage::createSysExMessage (body, (int) sizeof (body));
    return message;
}

juce::MidiMessage MIDIPortsSelector::createPanelStateRequest (juce::uint16 deviceId)
{
    juce::uint8 body[15] = {};
    body[0] = 0x04;
    body[1] = (juce::uint8) (deviceId & 0x7F);
    body[2] = 0x31;
    return juce::MidiMessage::createSysExMessage (body, (int) sizeof (body));
}

// ----- Replies -----

void MIDIPortsSelector::handleIncomingMidiMessage (juce::MidiInput* source, const juce::MidiMessage& message)
{
    handleIncomingMidi (source != nullptr ? source->getName() : juce::String(), message);
}

void MIDIPortsSelector::handleIncomingMidi (const juce::String& sourceName, const juce::MidiMessage& message)
{
    const auto* raw = message.getRawData();
    const int rawSize = message.getRawDataSize();

    if (rawSize < 1 || raw[0] != 0xF0)
        return;

    // The body is what follows F0, without the closing F7 when there is one; rules that read past
    // its end never match.
    const auto* body = raw + 1;
    int size = rawSize - 1;
    if (size > 0 && body[size - 1] == 0xF7)
        --size;

    juce::uint16 id;
    {
        std::lock_guard<std::mutex> guard (lock);
        id = deviceID;
    }

    if (hasIdentityHeader (body, size, id) && body[6] == (id & 0x7F) && size >= identityReplySizeFor (id))
    {
        handleIdentityReply (sourceName, id, body, size);
    }
    else if (startsWith (body, size, { 0x04, 0x0C, 0x16 }))
    {
        std::lock_guard<std::mutex> guard (lock);
        alternativeReplyReceived = true;
    }
    else if (size >= 5 && startsWith (body, size, { 0x04, 0x0C, 0x31, 0x01 }))
    {
        if (auto state = panelStateFromByte (body[4]))
        {
            std::lock_guard<std::mutex> guard (lock);
            panelState = state;
        }
    }
    else if (hasIdentityHeader (body, size, id) && body[6] == 0x0F)
    {
        deviceDetected = true;
        setFirmwareVersion ({});
        bootloaderDetected = true;
        selectInputFromReply (sourceName);
    }
}

void MIDIPortsSelector::handleIdentityReply (const juce::String& sourceName, juce::uint16 id, const juce::uint8* b,
                                             int /*size: checked by the caller*/)
{
    deviceDetected = true;
    selectInputFromReply (sourceName);

    if (id == quillboxId)
    {
        if (b[7] == 0 && b[8] == 0)
        {
            const auto n = (int) (juce::uint16) ((b[10] << 7) | b[9]);
            setFirmwareVersion (formatThree (n / 100, (n / 10) % 10, n % 10));
            bootloaderDetected = false;
        }
    }
    else if (id == lumostrelId)
    {
        const bool bootloaderMember = b[7] == 0 && b[8] == 1;
        const bool bootloaderRevision =
            b[7] == 0 && b[8] == 0 && b[9] == 0 && b[10] == 0 && b[11] == 0x64 && b[12] == 0;

        if (bootloaderMember || bootloaderRevision)
        {
            setFirmwareVersion ({});
            bootloaderDetected = true;
        }
        else if (b[7] == 0 && b[8] == 0)
        {
            setFirmwareVersion (revisionText (b, false));
            bootloaderDetected = false;
        }
    }
    else if (id == orb26Id)
    {
        if (b[7] == 0 && b[8] == 0)
        {
            setFirmwareVersion (revisionText (b, true));
            bootloaderDetected = false;
        }
    }
    else
    {
        return; // detected, but no version and no log line
    }

    auto line = "DeviceID " + juce::String::toHexString ((int) id).paddedLeft ('0', 4).toUpperCase() +
                " detected (firmware version : " + getFirmwareVersion();

    if (id == lumostrelId)
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
    juce::StringArray tokens;
    tokens.addTokens (versionText, ".p", "");

    auto part = [&tokens] (int i) { return i < tokens.size() ? leadingInteger (tokens[i]) : 0; };

    const juce::int64 number =
        part (0) * 1000000 + part (1) * 10000 + part (2) * 100 + (tokens.size() == 4 ? part (3) : 99);

    return (int) juce::jlimit<juce::int64> (std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), number);
}

juce::String MIDIPortsSelector::formatVersionNumber (int versionNumber)
{
    const juce::int64 n = versionNumber;
    const auto major = n / 1000000;
    const auto minor = (n - major * 1000000) / 10000;
    const auto patch = (n - (major * 100 + minor) * 10000) / 100;
    const auto suffix = n - ((major * 100 + minor) * 100 + patch) * 100;

    auto text = juce::String (major) + "." + juce::String (minor) + "." + juce::String (patch);

    if (suffix != 99)
        text << "p" << juce::String (suffix);

    return text;
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
