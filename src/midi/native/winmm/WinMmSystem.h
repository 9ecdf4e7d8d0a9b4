#pragma once

#include "midi/MidiSystem.h"
#include "midi/native/winmm/WinMmCalls.h"

namespace vfu
{
// The WinMM ports as a MIDI system: listed afresh from midiInGetNumDevs / midiOutGetNumDevs at every
// listing, opened by the device number listed now under the identifier, through WinMmInput and
// WinMmOutput; a refused open says whether another program holds the port. Over replaceable call
// tables, so that tests drive it with drivers of their own.
class WinMmSystem final : public MidiSystem
{
public:
    // The tables must outlive the system.
    WinMmSystem (const winmm::InputCalls& inputCalls, const winmm::Calls& outputCalls);

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

    // WinMM is part of Windows: there is nothing to be unavailable.
    bool isAvailable (juce::String& problem) override;

private:
    const winmm::InputCalls& inputCalls;
    const winmm::Calls& outputCalls;
};
} // namespace vfu
