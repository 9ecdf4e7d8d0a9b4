#pragma once

#include "midi/PollResult.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <array>
#include <initializer_list>
#include <vector>

// The SysEx messages the updater and the instruments exchange to find each other: the identity
// request and reply, the alternative device inquiry of Orb 26 and its reply, the panel state request
// and reply. Built and read here for the selector, and for the simulated instruments that answer it.
namespace vfu::protocol
{
// The device IDs of the models.
constexpr juce::uint16 quillboxId = 0x0008;
constexpr juce::uint16 lumostrelId = 0x000B;
constexpr juce::uint16 orb26Id = 0x000C;

// Byte 6 of the identity reply of a bootloader that names no model.
constexpr juce::uint8 bootloaderDeviceByte = 0x0F;

// A SysEx message without its F0 and, when there is one, its closing F7.
struct SysExBody
{
    const juce::uint8* data = nullptr;
    int size = 0;

    bool startsWith (std::initializer_list<juce::uint8> prefix) const;
};

// Empty unless the message starts with F0.
SysExBody bodyOf (const juce::uint8* message, int size);

// ----- Requests -----
const juce::MidiMessage& identityRequest();
const juce::MidiMessage& alternativeDeviceInquiry();
juce::MidiMessage panelStateRequest (juce::uint16 deviceId);

// Identity requests go to all devices; the others to one, by the low 7 bits of its ID.
bool isIdentityRequest (const SysExBody& body);
bool isAlternativeDeviceInquiry (const SysExBody& body);
bool isPanelStateRequest (const SysExBody& body, juce::uint8 deviceByte);

// ----- Replies -----
// The identity reply of a device: byte 6 is the low 7 bits of its ID (or bootloaderDeviceByte),
// followed by the member code and the four revision bytes.
std::vector<juce::uint8> identityReply (juce::uint8 deviceByte, const std::array<juce::uint8, 6>& memberAndRevision);
std::vector<juce::uint8> alternativeReply();
std::vector<juce::uint8> panelStateReply (juce::uint8 stateByte);

// An identity reply from the device with that ID, long enough for what is read of it.
bool isIdentityReplyFrom (const SysExBody& body, juce::uint16 deviceId);
// An identity reply naming no model: a bootloader.
bool isBootloaderIdentityReply (const SysExBody& body, juce::uint16 deviceId);
bool isAlternativeReply (const SysExBody& body);

// What an identity reply from the device (isIdentityReplyFrom) says of its firmware.
struct IdentityReading
{
    enum class Kind
    {
        unknownModel, // a device this updater knows no version layout of
        unchanged,    // a known model, but bytes that say nothing of its firmware
        firmware,
        bootloader
    };

    Kind kind = Kind::unknownModel;
    juce::String version; // for firmware
};
IdentityReading readIdentityReply (juce::uint16 deviceId, const SysExBody& body);

// The poll outcome a panel state reply reports; 0 for a message that is none, or a state byte that
// leaves it unchanged.
int readPanelStateReply (const SysExBody& body);
} // namespace vfu::protocol
