#pragma once

#include <juce_core/juce_core.h>

#if JUCE_LINUX
#include <alsa/asoundlib.h>

#include <vector>

namespace vfu::alsa
{
// Towards a kernel port (a USB instrument, snd-virmidi) the kernel copies each event into a rawmidi
// buffer of one page (4 KiB) and silently cuts what does not fit: a whole page only fits an empty
// buffer. A quarter page fits whole while up to three quarters still wait to go out, and stays far
// below the 8 KiB that the kernel refuses for a user-space receiver. Firmware packets are smaller
// and go out as one event each.
constexpr int maximumSysExEventBytes = 1024;

// True for SysEx bytes, whole or a piece cut anywhere from one: they start with F0, with the F7 that
// ends a message, or with a data byte from its middle. Firmware images are cut without regard to
// message boundaries, so any of these can start a packet.
bool isSysExPiece (const juce::uint8* data, int size) noexcept;

// The sequencer events that send a message, in order, with no source or destination set yet. SysEx
// pieces become SysEx events of at most maximumSysExEventBytes that point into `data` (it must
// outlive them), byte for byte; other messages go through ALSA's encoder, which is reset first.
// Returns 0, or the encoder's negative error code.
int buildSequencerEvents (const juce::uint8* data, int size, snd_midi_event_t& encoder,
                          std::vector<snd_seq_event_t>& events);
} // namespace vfu::alsa
#endif
