#include "midi/native/winmm/WinMmCalls.h"

namespace vfu::winmm
{
juce::String describe (Result result)
{
    switch (result)
    {
        case results::noError:
            return "MMSYSERR_NOERROR";
        case results::error:
            return "MMSYSERR_ERROR";
        case results::badDeviceId:
            return "MMSYSERR_BADDEVICEID";
        case results::allocated:
            return "MMSYSERR_ALLOCATED";
        case results::invalidHandle:
            return "MMSYSERR_INVALHANDLE";
        case results::noDriver:
            return "MMSYSERR_NODRIVER";
        case results::noMemory:
            return "MMSYSERR_NOMEM";
        case results::unprepared:
            return "MIDIERR_UNPREPARED";
        case results::stillPlaying:
            return "MIDIERR_STILLPLAYING";
        case results::notReady:
            return "MIDIERR_NOTREADY";
        case results::noDevice:
            return "MIDIERR_NODEVICE";
        default:
            return "WinMM error " + juce::String (result);
    }
}

OpenRefusal refusalFor (Result openResult, const juce::String& listedName)
{
    return { openResult == results::allocated || openResult == results::noMemory, listedName, describe (openResult) };
}

LongBuffer::LongBuffer (const juce::uint8* data, int length) : size ((juce::uint32) juce::jmax (0, length))
{
    bytes.calloc (juce::jmax<size_t> (1, size));
    if (size > 0 && data != nullptr)
        std::memcpy (bytes.get(), data, size);
}
} // namespace vfu::winmm
