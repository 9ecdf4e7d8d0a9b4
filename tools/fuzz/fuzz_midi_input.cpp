// An incoming MIDI stream for MIDIPortsSelector::handleIncomingMidi. The input is split into
// messages: a control byte (source name, device id, message shape), a length byte, then the bytes.
#include "FuzzSupport.h"

#include "core/Clock.h"
#include "midi/MIDIPortsSelector.h"
#include "midi/VirtualMidiLayer.h"

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    vfu::fuzz::initialiseOnce();

    static vfu::RealClock clock;
    static vfu::VirtualMidiLayer layer (clock);
    static const juce::String sources[] = { "Quillbox",      "Lumostrel", "Orb 26",
                                            "Silent port 1", "",          "\"odd\" [port] \xc3\xa9" };
    static const juce::uint16 ids[] = { 0xFFFF, 0x0000, 0x0012, 0x0040, 0x007F, 0x0101, 0x3F00, 0x0410 };

    MIDIPortsSelector selector (layer, clock);

    size_t at = 0;
    while (at + 2 <= size)
    {
        const auto control = data[at];
        const auto length = juce::jmin<size_t> (data[at + 1], size - at - 2);
        const auto* body = data + at + 2;
        at += 2 + length;

        const auto& source = sources[control % 6];
        if ((control & 0x08) != 0)
            selector.setDeviceID (ids[(control >> 4) & 7]);

        if ((control & 0x80) == 0)
        {
            // A complete SysEx message; the body is what lies between F0 and F7.
            selector.handleIncomingMidi (source, juce::MidiMessage::createSysExMessage (body, (int) length));
        }
        else if (length > 0)
        {
            // A channel or system message of the right length for its status byte.
            const auto status = (juce::uint8) (body[0] | 0x80);
            if (status == 0xf0 || status == 0xf7)
                continue;
            const auto expected = juce::MidiMessage::getMessageLengthFromFirstByte (status);
            juce::uint8 bytes[3] = { status, length > 1 ? (juce::uint8) (body[1] & 0x7f) : (juce::uint8) 0,
                                     length > 2 ? (juce::uint8) (body[2] & 0x7f) : (juce::uint8) 0 };
            selector.handleIncomingMidi (source, juce::MidiMessage (bytes, expected));
        }
    }

    (void) selector.getFirmwareVersion();
    (void) selector.isDeviceDetected();
    (void) selector.isBootloaderDetected();
    (void) selector.isAlternativeReplyReceived();
    (void) selector.getPanelState();
    (void) selector.getInputPortName();
    return 0;
}
