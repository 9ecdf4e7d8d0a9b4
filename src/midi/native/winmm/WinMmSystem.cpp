#include "midi/native/winmm/WinMmSystem.h"

#include "midi/native/winmm/WinMmInput.h"
#include "midi/native/winmm/WinMmOutput.h"

namespace vfu
{
WinMmSystem::WinMmSystem (const winmm::InputCalls& inputs, const winmm::Calls& outputs)
    : inputCalls (inputs), outputCalls (outputs)
{
}

juce::Array<juce::MidiDeviceInfo> WinMmSystem::getInputs()
{
    return listWinMmInputs (inputCalls).asDeviceInfos();
}

juce::Array<juce::MidiDeviceInfo> WinMmSystem::getOutputs()
{
    return listWinMmOutputs (outputCalls).asDeviceInfos();
}

std::unique_ptr<MidiInputConnection> WinMmSystem::openInput (const juce::String& identifier,
                                                             const juce::String& listedName, MidiReceiver& receiver)
{
    return openWinMmInput (inputCalls, identifier, listedName, receiver);
}

std::unique_ptr<MidiOutputConnection> WinMmSystem::openOutput (const juce::String& identifier,
                                                               const juce::String& listedName)
{
    return openWinMmOutput (outputCalls, identifier, listedName);
}

std::unique_ptr<MidiInputConnection> WinMmSystem::openInputOrSayWhy (const juce::String& identifier,
                                                                     const juce::String& listedName,
                                                                     MidiReceiver& receiver, OpenRefusal& refusal)
{
    return openWinMmInput (inputCalls, identifier, listedName, receiver, &refusal);
}

std::unique_ptr<MidiOutputConnection>
WinMmSystem::openOutputOrSayWhy (const juce::String& identifier, const juce::String& listedName, OpenRefusal& refusal)
{
    return openWinMmOutput (outputCalls, identifier, listedName, WinMmOutput::defaultCompletionMilliseconds, &refusal);
}

bool WinMmSystem::isAvailable (juce::String& problem)
{
    juce::ignoreUnused (problem);
    return true;
}
} // namespace vfu
