#include "midi/NativeMidiSystem.h"
#include "midi/native/alsa/AlsaSequencerSystem.h"

namespace vfu
{
// Every port goes to the process's one ALSA sequencer client, so that a check of the MIDI system
// opens no client of its own, and it is reached directly: no port opens on the message thread.
NativeMidiSystem createNativeMidiSystem()
{
    return { std::make_unique<AlsaSequencerSystem>(), false };
}
} // namespace vfu
