#pragma once

#include "midi/AlsaSequencerSystem.h"
#include "midi/SystemMidiLayer.h"
#include "midi/WinMmSystem.h"

#include <memory>

namespace vfu
{
// The operating system's MIDI ports through juce::MidiInput and juce::MidiOutput, opened by the
// identifiers JUCE lists. Devices must be opened on the message thread (MIDIPortsSelector takes
// care of that). On Linux everything goes to the process's one ALSA sequencer client instead
// (AlsaSequencerSystem), so that a check of the MIDI system opens no client of its own; on Windows
// to WinMM through WinMmInput and WinMmOutput, listed under the identifiers JUCE would give.
class JuceMidiSystem final : public MidiSystem
{
public:
    JuceMidiSystem();

    juce::Array<juce::MidiDeviceInfo> getInputs() override;
    juce::Array<juce::MidiDeviceInfo> getOutputs() override;
    std::unique_ptr<MidiInputConnection> openInput (const juce::String& identifier, const juce::String& listedName,
                                                    MidiReceiver& receiver) override;
    std::unique_ptr<MidiOutputConnection> openOutput (const juce::String& identifier,
                                                      const juce::String& listedName) override;
    std::unique_ptr<MidiInputConnection> openInputOrSayWhy (const juce::String& identifier,
                                                            const juce::String& listedName, MidiReceiver& receiver,
                                                            OpenRefusal& refusal) override;
    std::unique_ptr<MidiOutputConnection>
    openOutputOrSayWhy (const juce::String& identifier, const juce::String& listedName, OpenRefusal& refusal) override;

    juce::StringArray getOtherProgramsConnectedTo (const juce::String& inputIdentifier,
                                                   const juce::String& outputIdentifier) override;

    // On Linux: whether the ALSA sequencer opens. Elsewhere the system is always there.
    bool isAvailable (juce::String& problem) override;

    // On Linux the sequencer's announcements; WinMM tells of no change without a window of its own,
    // so there the ports are listed again now and then.
    bool addPortChangeEvent (juce::WaitableEvent& event) override;
    void removePortChangeEvent (juce::WaitableEvent& event) override;

private:
#if JUCE_LINUX
    AlsaSequencerSystem alsaSystem;
#elif JUCE_WINDOWS
    WinMmSystem winMmSystem{ winmm::systemInputCalls(), winmm::systemCalls() };
#endif
};

namespace detail
{
// Holds the system ahead of the layer that refers to it (bases are built in the order listed).
// On Linux and Windows the system is reached directly: no port has to be opened on the message thread.
struct JuceMidiSystemHolder
{
#if JUCE_LINUX
    AlsaSequencerSystem juceSystem;
    static constexpr bool portsOpenOnMessageThread = false;
#elif JUCE_WINDOWS
    // WinMM opens a port from any thread; the worker opens its own (a port another program holds is
    // tried for 300 ms, which the message thread must not spend).
    WinMmSystem juceSystem{ winmm::systemInputCalls(), winmm::systemCalls() };
    static constexpr bool portsOpenOnMessageThread = false;
#else
    JuceMidiSystem juceSystem;
    static constexpr bool portsOpenOnMessageThread = true;
#endif
};
} // namespace detail

// The layer of the shipped app: the system's ports, with repeated names made distinct.
class JuceMidiLayer final : private detail::JuceMidiSystemHolder, public SystemMidiLayer
{
public:
    JuceMidiLayer() : SystemMidiLayer (juceSystem, portsOpenOnMessageThread) {}

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (JuceMidiLayer)
};
} // namespace vfu
