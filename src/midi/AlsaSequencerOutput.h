#pragma once

#include "midi/MidiLayer.h"

#include <memory>

namespace vfu
{
// An output to an ALSA sequencer port that sends every SysEx piece exactly as given.
//
// JUCE 7.0.5's ALSA output runs each message through ALSA's encoder on its own and resets the encoder
// afterwards, so a firmware packet that starts a SysEx message (no F7 at its end) never completes an
// event and one that continues it (no F0 at its start) is not read as SysEx: under a real sequencer
// not one byte of a transfer in packets arrived. Here SysEx bytes, whole or in pieces, travel as SysEx
// events of at most 4 KiB (events of 8 KiB and more are refused by the kernel for user-space receivers);
// other messages go through ALSA's own encoder (AlsaSequencerEvents.h). A write the receiver has no room
// for is tried again for about half a second rather than dropped, unless the sending thread is asked to
// stop. Each send says what became of the message: `refused` when the sequencer would not take it,
// `destinationGone` when the connection to the port no longer exists (the port left).
//
// Null on other systems, or when the identifier ("client-port", as JUCE lists ALSA ports) does not
// name a port that can be connected.
std::unique_ptr<MidiOutputConnection> openAlsaSequencerOutput (const juce::String& identifier,
                                                               const juce::String& listedName);
} // namespace vfu
