#include "midi/WinMmCalls.h"

#if JUCE_WINDOWS
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <mmsystem.h>

#include <new>

// Asks a driver for its device interface (mmddk.h, which JUCE does not include either).
#ifndef DRV_QUERYDEVICEINTERFACE
#define DRV_QUERYDEVICEINTERFACE (DRV_RESERVED + 12)
#define DRV_QUERYDEVICEINTERFACESIZE (DRV_RESERVED + 13)
#endif
#endif

namespace vfu::winmm
{
#if JUCE_WINDOWS
static_assert (results::noError == MMSYSERR_NOERROR && results::error == MMSYSERR_ERROR &&
               results::badDeviceId == MMSYSERR_BADDEVICEID && results::allocated == MMSYSERR_ALLOCATED &&
               results::invalidHandle == MMSYSERR_INVALHANDLE && results::noDriver == MMSYSERR_NODRIVER &&
               results::noMemory == MMSYSERR_NOMEM && results::unprepared == MIDIERR_UNPREPARED &&
               results::stillPlaying == MIDIERR_STILLPLAYING && results::notReady == MIDIERR_NOTREADY &&
               results::noDevice == MIDIERR_NODEVICE);
static_assert (sizeof (MIDIHDR) <= sizeof (LongBuffer::systemRecord));

namespace
{
HMIDIOUT toHandle (Handle handle)
{
    return static_cast<HMIDIOUT> (handle);
}

MIDIHDR& headerOf (LongBuffer& buffer)
{
    return *reinterpret_cast<MIDIHDR*> (buffer.systemRecord);
}

// The driver sets MHDR_DONE from its own thread: read the flags afresh every time.
bool headerIsDone (const LongBuffer& buffer)
{
    const auto* header = reinterpret_cast<const volatile MIDIHDR*> (buffer.systemRecord);
    return (header->dwFlags & MHDR_DONE) != 0;
}

// As JUCE's WinMM listing asks: the size first, then the name into a buffer of 512 characters.
juce::String interfaceNameOf (juce::uint32 device)
{
    const auto id = reinterpret_cast<HMIDIOUT> ((UINT_PTR) device);
    ULONG size = 0;
    if (midiOutMessage (id, DRV_QUERYDEVICEINTERFACESIZE, (DWORD_PTR) &size, 0) != MMSYSERR_NOERROR)
        return {};

    WCHAR name[512] = {};
    if (!juce::isPositiveAndBelow (size, sizeof (name)) ||
        midiOutMessage (id, DRV_QUERYDEVICEINTERFACE, (DWORD_PTR) name, sizeof (name)) != MMSYSERR_NOERROR)
        return {};

    return juce::String (name, (size_t) juce::numElementsInArray (name));
}

Calls makeSystemCalls()
{
    Calls calls;
    calls.getNumberOfDevices = [] { return (juce::uint32) midiOutGetNumDevs(); };
    calls.getName = [] (juce::uint32 device, juce::String& name)
    {
        MIDIOUTCAPSW caps = {};
        const auto result = midiOutGetDevCapsW (device, &caps, sizeof (caps));
        if (result == MMSYSERR_NOERROR)
            name = juce::String (caps.szPname, (size_t) juce::numElementsInArray (caps.szPname));
        return (Result) result;
    };
    calls.getInterfaceName = interfaceNameOf;
    calls.open = [] (juce::uint32 device, Handle& handle)
    {
        HMIDIOUT opened = nullptr;
        const auto result = midiOutOpen (&opened, device, 0, 0, CALLBACK_NULL);
        handle = opened;
        return (Result) result;
    };
    calls.close = [] (Handle handle) { return (Result) midiOutClose (toHandle (handle)); };
    calls.sendShort = [] (Handle handle, juce::uint32 packed)
    { return (Result) midiOutShortMsg (toHandle (handle), (DWORD) packed); };
    calls.prepare = [] (Handle handle, LongBuffer& buffer)
    {
        auto* header = new (buffer.systemRecord) MIDIHDR();
        header->lpData = buffer.bytes.get();
        header->dwBufferLength = header->dwBytesRecorded = (DWORD) buffer.size;
        return (Result) midiOutPrepareHeader (toHandle (handle), header, sizeof (MIDIHDR));
    };
    calls.sendLong = [] (Handle handle, LongBuffer& buffer)
    { return (Result) midiOutLongMsg (toHandle (handle), &headerOf (buffer), sizeof (MIDIHDR)); };
    calls.isDone = headerIsDone;
    calls.unprepare = [] (Handle handle, LongBuffer& buffer)
    { return (Result) midiOutUnprepareHeader (toHandle (handle), &headerOf (buffer), sizeof (MIDIHDR)); };
    calls.reset = [] (Handle handle) { return (Result) midiOutReset (toHandle (handle)); };
    return calls;
}
} // namespace

const Calls& systemCalls()
{
    static const Calls calls = makeSystemCalls();
    return calls;
}
#else
const Calls& systemCalls()
{
    static const Calls none;
    return none;
}
#endif
} // namespace vfu::winmm
