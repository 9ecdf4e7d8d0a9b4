#pragma once

#include <juce_core/juce_core.h>

#include <functional>

// The few WinMM output calls that WinMmOutput makes, as a table of functions: the real table
// calls Windows, a test replaces it with a driver of its own. Nothing here includes Windows'
// headers, so the output's logic and its tests build on every system.
namespace vfu::winmm
{
// An MMRESULT. The values are WinMM's own (the Windows build checks them against mmsystem.h).
using Result = juce::uint32;

namespace results
{
constexpr Result noError = 0;       // MMSYSERR_NOERROR
constexpr Result error = 1;         // MMSYSERR_ERROR
constexpr Result badDeviceId = 2;   // MMSYSERR_BADDEVICEID
constexpr Result allocated = 4;     // MMSYSERR_ALLOCATED
constexpr Result invalidHandle = 5; // MMSYSERR_INVALHANDLE
constexpr Result noDriver = 6;      // MMSYSERR_NODRIVER
constexpr Result noMemory = 7;      // MMSYSERR_NOMEM
constexpr Result unprepared = 64;   // MIDIERR_UNPREPARED
constexpr Result stillPlaying = 65; // MIDIERR_STILLPLAYING
constexpr Result notReady = 67;     // MIDIERR_NOTREADY
constexpr Result noDevice = 68;     // MIDIERR_NODEVICE
} // namespace results

// A readable name for the results above ("MIDIERR_NODEVICE"), the number for any other.
juce::String describe (Result result);

// An opened output (an HMIDIOUT).
using Handle = void*;

// One long message from prepare to a successful unprepare. The bytes are the output's own copy,
// so the caller's message may go away while the driver still reads them. `systemRecord` holds the
// system's header (a MIDIHDR) in place: the driver writes into it until the header is unprepared.
struct LongBuffer
{
    explicit LongBuffer (const juce::uint8* data, int length);

    juce::HeapBlock<char> bytes;
    juce::uint32 size = 0;
    alignas (8) unsigned char systemRecord[128] = {};

    JUCE_DECLARE_NON_COPYABLE (LongBuffer)
};

struct Calls
{
    std::function<juce::uint32()> getNumberOfDevices;                        // midiOutGetNumDevs
    std::function<Result (juce::uint32 device, juce::String& name)> getName; // midiOutGetDevCaps
    std::function<juce::String (juce::uint32 device)> getInterfaceName;      // DRV_QUERYDEVICEINTERFACE, or empty
    std::function<Result (juce::uint32 device, Handle& handle)> open;        // midiOutOpen, no callback
    std::function<Result (Handle)> close;                                    // midiOutClose
    std::function<Result (Handle, juce::uint32 packed)> sendShort;           // midiOutShortMsg
    std::function<Result (Handle, LongBuffer&)> prepare;                     // midiOutPrepareHeader
    std::function<Result (Handle, LongBuffer&)> sendLong;                    // midiOutLongMsg
    std::function<bool (const LongBuffer&)> isDone;                          // MHDR_DONE in the header's flags
    std::function<Result (Handle, LongBuffer&)> unprepare;                   // midiOutUnprepareHeader
    std::function<Result (Handle)> reset;                                    // midiOutReset
};

// Windows' own calls; an empty table on other systems.
const Calls& systemCalls();
} // namespace vfu::winmm
