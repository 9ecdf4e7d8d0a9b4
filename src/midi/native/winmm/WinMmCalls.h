#pragma once

#include "midi/MidiLayer.h"

#include <functional>

// The few WinMM calls that WinMmOutput and WinMmInput make, as tables of functions: the real
// tables call Windows, a test replaces them with a driver of its own. Nothing here includes Windows'
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

// Why an open failed, for the selector: MMSYSERR_ALLOCATED, and MMSYSERR_NOMEM that many drivers
// return for the same cause, mean that another program holds the port.
OpenRefusal refusalFor (Result openResult, const juce::String& listedName);

// An opened port (an HMIDIOUT or an HMIDIIN).
using Handle = void*;

// One long message from prepare to a successful unprepare. The bytes are the output's own copy,
// so the caller's message may go away while the driver still reads them. `systemRecord` holds the
// system's header (a MIDIHDR) in place: the driver writes into it until the header is unprepared.
// An input's buffer is the same with room for `length` bytes that the driver fills.
struct LongBuffer
{
    explicit LongBuffer (const juce::uint8* data, int length);
    explicit LongBuffer (int capacity) : LongBuffer (nullptr, capacity) {}

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

// Windows' own calls (WinMmSystemCalls.cpp, built on Windows only).
const Calls& systemCalls();

// What an input's driver reports, on a thread of its own. A handler must not call any WinMM
// function from there: WinMM does not allow it (the driver's lock is held).
class InputHandler
{
public:
    virtual ~InputHandler() = default;
    virtual void shortMessage (juce::uint32 packed) = 0;                        // MIM_DATA
    virtual void longData (LongBuffer& buffer, juce::uint32 bytesRecorded) = 0; // MIM_LONGDATA
    virtual void badMessage (bool wasLong, LongBuffer* buffer) = 0;             // MIM_ERROR, MIM_LONGERROR
};

struct InputCalls
{
    std::function<juce::uint32()> getNumberOfDevices;                        // midiInGetNumDevs
    std::function<Result (juce::uint32 device, juce::String& name)> getName; // midiInGetDevCaps
    std::function<juce::String (juce::uint32 device)> getInterfaceName;      // DRV_QUERYDEVICEINTERFACE, or empty
    // midiInOpen with a callback function that passes the driver's reports to `handler`.
    std::function<Result (juce::uint32 device, InputHandler& handler, Handle& handle)> open;
    std::function<Result (Handle, LongBuffer&)> prepare;   // midiInPrepareHeader
    std::function<Result (Handle, LongBuffer&)> addBuffer; // midiInAddBuffer
    std::function<Result (Handle, LongBuffer&)> unprepare; // midiInUnprepareHeader
    std::function<Result (Handle)> start;                  // midiInStart
    std::function<Result (Handle)> stop;                   // midiInStop
    std::function<Result (Handle)> reset;                  // midiInReset
    std::function<Result (Handle)> close;                  // midiInClose
};

const InputCalls& systemInputCalls();
} // namespace vfu::winmm
