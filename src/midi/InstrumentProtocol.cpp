#include "midi/InstrumentProtocol.h"

#include <algorithm>

namespace vfu::protocol
{
namespace
{
// Body bytes that every identity reply starts with: universal non-real-time, all devices, general
// information, identity reply, manufacturer 04h.
constexpr juce::uint8 identityReplyHeader[] = { 0x7E, 0x7F, 0x06, 0x02, 0x04 };

// The identity reply is decoded up to body byte 12 (four revision bytes from byte 9); the
// Quillbox version needs bytes up to 10.
constexpr int revisionReplySize = 13;
constexpr int quillboxReplySize = 11;
constexpr int identityMatchSize = 7;

bool hasIdentityHeader (const SysExBody& body, juce::uint16 id)
{
    return body.size >= identityMatchSize &&
           std::equal (std::begin (identityReplyHeader), std::end (identityReplyHeader), body.data) &&
           body.data[5] == (juce::uint8) (id >> 8);
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

IdentityReading firmware (const juce::String& version)
{
    return { IdentityReading::Kind::firmware, version };
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

juce::MidiMessage fromBody (std::initializer_list<juce::uint8> body)
{
    const std::vector<juce::uint8> bytes (body);
    return juce::MidiMessage::createSysExMessage (bytes.data(), (int) bytes.size());
}

std::vector<juce::uint8> sysEx (std::initializer_list<juce::uint8> body)
{
    std::vector<juce::uint8> message (body.size() + 2);
    message.front() = 0xF0;
    std::copy (body.begin(), body.end(), message.begin() + 1);
    message.back() = 0xF7;
    return message;
}
} // namespace

bool SysExBody::startsWith (std::initializer_list<juce::uint8> prefix) const
{
    return size >= (int) prefix.size() && std::equal (prefix.begin(), prefix.end(), data);
}

SysExBody bodyOf (const juce::uint8* message, int size)
{
    if (message == nullptr || size < 1 || message[0] != 0xF0)
        return {};

    // Rules that read past the end of the body never match.
    SysExBody body{ message + 1, size - 1 };
    if (body.size > 0 && body.data[body.size - 1] == 0xF7)
        --body.size;
    return body;
}

// ----- Requests -----

const juce::MidiMessage& identityRequest()
{
    static const auto message = fromBody ({ 0x7E, 0x7F, 0x06, 0x01 });
    return message;
}

const juce::MidiMessage& alternativeDeviceInquiry()
{
    static const auto message = fromBody ({ 0x04, 0x0C, 0x16, 0x01 });
    return message;
}

juce::MidiMessage panelStateRequest (juce::uint16 deviceId)
{
    juce::uint8 body[15] = {};
    body[0] = 0x04;
    body[1] = (juce::uint8) (deviceId & 0x7F);
    body[2] = 0x31;
    return juce::MidiMessage::createSysExMessage (body, (int) sizeof (body));
}

bool isIdentityRequest (const SysExBody& body)
{
    return body.size == 4 && body.data[0] == 0x7E && body.data[2] == 0x06 && body.data[3] == 0x01;
}

bool isAlternativeDeviceInquiry (const SysExBody& body)
{
    return body.startsWith ({ 0x04, 0x0C, 0x16, 0x01 });
}

bool isPanelStateRequest (const SysExBody& body, juce::uint8 deviceByte)
{
    return body.startsWith ({ 0x04, deviceByte, 0x31, 0x00 });
}

// ----- Replies -----

std::vector<juce::uint8> identityReply (juce::uint8 deviceByte, const std::array<juce::uint8, 6>& memberAndRevision)
{
    std::vector<juce::uint8> message{ 0xF0, 0x7E, 0x7F, 0x06, 0x02, 0x04, 0x00, deviceByte };
    for (auto byte : memberAndRevision)
        message.push_back (byte);
    message.push_back (0xF7);
    return message;
}

std::vector<juce::uint8> alternativeReply()
{
    return sysEx ({ 0x04, 0x0C, 0x16, 0x02 });
}

std::vector<juce::uint8> panelStateReply (juce::uint8 stateByte)
{
    return sysEx ({ 0x04, 0x0C, 0x31, 0x01, stateByte });
}

bool isIdentityReplyFrom (const SysExBody& body, juce::uint16 deviceId)
{
    return hasIdentityHeader (body, deviceId) && body.data[6] == (deviceId & 0x7F) &&
           body.size >= identityReplySizeFor (deviceId);
}

bool isBootloaderIdentityReply (const SysExBody& body, juce::uint16 deviceId)
{
    return hasIdentityHeader (body, deviceId) && body.data[6] == bootloaderDeviceByte;
}

bool isAlternativeReply (const SysExBody& body)
{
    return body.startsWith ({ 0x04, 0x0C, 0x16 });
}

IdentityReading readIdentityReply (juce::uint16 deviceId, const SysExBody& body)
{
    if (!isIdentityReplyFrom (body, deviceId))
        return {};

    const auto* b = body.data;
    const bool applicationMember = b[7] == 0 && b[8] == 0;
    const IdentityReading unchanged{ IdentityReading::Kind::unchanged, {} };

    if (deviceId == quillboxId)
    {
        // A 14-bit number n read as n / 100, (n / 10) mod 10, n mod 10.
        const auto n = (int) (juce::uint16) ((b[10] << 7) | b[9]);
        return applicationMember ? firmware (formatThree (n / 100, (n / 10) % 10, n % 10)) : unchanged;
    }

    if (deviceId == lumostrelId)
    {
        const bool bootloaderMember = b[7] == 0 && b[8] == 1;
        const bool bootloaderRevision = applicationMember && b[9] == 0 && b[10] == 0 && b[11] == 0x64 && b[12] == 0;

        if (bootloaderMember || bootloaderRevision)
            return { IdentityReading::Kind::bootloader, {} };

        return applicationMember ? firmware (revisionText (b, false)) : unchanged;
    }

    if (deviceId == orb26Id)
        return applicationMember ? firmware (revisionText (b, true)) : unchanged;

    return {};
}

int readPanelStateReply (const SysExBody& body)
{
    if (body.size < 5 || !body.startsWith ({ 0x04, 0x0C, 0x31, 0x01 }))
        return 0;

    return panelStateFromByte (body.data[4]);
}
} // namespace vfu::protocol
