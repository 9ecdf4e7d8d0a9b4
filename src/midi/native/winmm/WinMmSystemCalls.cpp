#include "midi/native/winmm/WinMmCalls.h"

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

namespace vfu::winmm
{
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

// The driver's reports for an input, passed to its handler (the open's instance data). Runs on the
// driver's thread.
void CALLBACK inputCallback (HMIDIIN, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR)
{
    auto* handler = reinterpret_cast<InputHandler*> (instance);
    const auto bufferOf = [param1]
    {
        auto* header = reinterpret_cast<MIDIHDR*> (param1);
        return header != nullptr ? reinterpret_cast<LongBuffer*> (header->dwUser) : nullptr;
    };

    switch (message)
    {
        case MIM_DATA:
            handler->shortMessage ((juce::uint32) param1);
            break;
        case MIM_LONGDATA:
            if (auto* buffer = bufferOf())
                handler->longData (*buffer, (juce::uint32) reinterpret_cast<MIDIHDR*> (param1)->dwBytesRecorded);
            break;
        case MIM_ERROR:
            handler->badMessage (false, nullptr);
            break;
        case MIM_LONGERROR:
            handler->badMessage (true, bufferOf());
            break;
        default:
            break; // MIM_OPEN, MIM_CLOSE, MIM_MOREDATA
    }
}

HMIDIIN toInputHandle (Handle handle)
{
    return static_cast<HMIDIIN> (handle);
}

juce::String inputInterfaceNameOf (juce::uint32 device)
{
    const auto id = reinterpret_cast<HMIDIIN> ((UINT_PTR) device);
    ULONG size = 0;
    if (midiInMessage (id, DRV_QUERYDEVICEINTERFACESIZE, (DWORD_PTR) &size, 0) != MMSYSERR_NOERROR)
        return {};

    WCHAR name[512] = {};
    if (!juce::isPositiveAndBelow (size, sizeof (name)) ||
        midiInMessage (id, DRV_QUERYDEVICEINTERFACE, (DWORD_PTR) name, sizeof (name)) != MMSYSERR_NOERROR)
        return {};

    return juce::String (name, (size_t) juce::numElementsInArray (name));
}

InputCalls makeSystemInputCalls()
{
    InputCalls calls;
    calls.getNumberOfDevices = [] { return (juce::uint32) midiInGetNumDevs(); };
    calls.getName = [] (juce::uint32 device, juce::String& name)
    {
        MIDIINCAPSW caps = {};
        const auto result = midiInGetDevCapsW (device, &caps, sizeof (caps));
        if (result == MMSYSERR_NOERROR)
            name = juce::String (caps.szPname, (size_t) juce::numElementsInArray (caps.szPname));
        return (Result) result;
    };
    calls.getInterfaceName = inputInterfaceNameOf;
    calls.open = [] (juce::uint32 device, InputHandler& handler, Handle& handle)
    {
        HMIDIIN opened = nullptr;
        const auto result =
            midiInOpen (&opened, device, (DWORD_PTR) &inputCallback, (DWORD_PTR) &handler, CALLBACK_FUNCTION);
        handle = opened;
        return (Result) result;
    };
    calls.prepare = [] (Handle handle, LongBuffer& buffer)
    {
        auto* header = new (buffer.systemRecord) MIDIHDR();
        header->lpData = buffer.bytes.get();
        header->dwBufferLength = (DWORD) buffer.size;
        header->dwUser = (DWORD_PTR) &buffer;
        return (Result) midiInPrepareHeader (toInputHandle (handle), header, sizeof (MIDIHDR));
    };
    calls.addBuffer = [] (Handle handle, LongBuffer& buffer)
    {
        headerOf (buffer).dwBytesRecorded = 0;
        return (Result) midiInAddBuffer (toInputHandle (handle), &headerOf (buffer), sizeof (MIDIHDR));
    };
    calls.unprepare = [] (Handle handle, LongBuffer& buffer)
    { return (Result) midiInUnprepareHeader (toInputHandle (handle), &headerOf (buffer), sizeof (MIDIHDR)); };
    calls.start = [] (Handle handle) { return (Result) midiInStart (toInputHandle (handle)); };
    calls.stop = [] (Handle handle) { return (Result) midiInStop (toInputHandle (handle)); };
    calls.reset = [] (Handle handle) { return (Result) midiInReset (toInputHandle (handle)); };
    calls.close = [] (Handle handle) { return (Result) midiInClose (toInputHandle (handle)); };
    return calls;
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

const InputCalls& systemInputCalls()
{
    static const InputCalls calls = makeSystemInputCalls();
    return calls;
}
} // namespace vfu::winmm
