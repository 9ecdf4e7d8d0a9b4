// Recordings: any bytes are read or refused with a reason, never read past, crashed on or recursed
// into without bound.
#include "FuzzSupport.h"

#include "midi/Recording.h"

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    vfu::fuzz::initialiseOnce();

    vfu::recording::Recording recording;
    juce::String error;
    const bool read = vfu::recording::parse (data, size, recording, error);

    // A refusal always says where or why; a recording read always names its model.
    if (!read && error.isEmpty())
        __builtin_trap();
    if (read && recording.model.isEmpty())
        __builtin_trap();
    return 0;
}
