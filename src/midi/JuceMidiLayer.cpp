#include "midi/JuceMidiLayer.h"

#include "midi/AlsaSequencerConnection.h"

namespace vfu
{
namespace
{
// Passes a JUCE callback on to a MidiReceiver with the name under which the port was listed (JUCE
// gives the system's name, which two ports may share).
class ReceiverAdapter final : public juce::MidiInputCallback
{
public:
    ReceiverAdapter (MidiReceiver& r, const juce::String& name) : receiver (r), listedName (name) {}

    void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& message) override
    {
        receiver.handleIncomingMidi (listedName, message);
    }

private:
    MidiReceiver& receiver;
    const juce::String listedName;
};

class JuceInputConnection final : public MidiInputConnection
{
public:
    JuceInputConnection (std::unique_ptr<juce::MidiInput> in, std::unique_ptr<ReceiverAdapter> a,
                         const juce::String& name)
        : adapter (std::move (a)), input (std::move (in)), listedName (name)
    {
    }

    ~JuceInputConnection() override
    {
        input->stop();
        input.reset(); // before the adapter it calls
    }

    void start() override { input->start(); }
    void stop() override { input->stop(); }
    juce::String getName() const override { return listedName; }

private:
    std::unique_ptr<ReceiverAdapter> adapter;
    std::unique_ptr<juce::MidiInput> input;
    const juce::String listedName;
};

class JuceOutputConnection final : public MidiOutputConnection
{
public:
    JuceOutputConnection (std::unique_ptr<juce::MidiOutput> out, const juce::String& name)
        : output (std::move (out)), listedName (name)
    {
    }

    MidiSendResult sendMessageNow (const juce::MidiMessage& message) override
    {
        // JUCE's outputs say nothing of what became of a message.
        output->sendMessageNow (message);
        return MidiSendResult::sent;
    }
    juce::String getName() const override { return listedName; }

private:
    std::unique_ptr<juce::MidiOutput> output;
    const juce::String listedName;
};

} // namespace

JuceMidiSystem::JuceMidiSystem()
{
#if JUCE_LINUX
    // ALSA would print a line each time the sequencer fails to open; the layer logs that state once.
    alsa::silenceSequencerOpenErrors();
#endif
}

juce::Array<juce::MidiDeviceInfo> JuceMidiSystem::getInputs()
{
#if JUCE_LINUX
    return alsaSystem.getInputs();
#elif JUCE_WINDOWS
    return winMmSystem.getInputs();
#else
    return juce::MidiInput::getAvailableDevices();
#endif
}

juce::Array<juce::MidiDeviceInfo> JuceMidiSystem::getOutputs()
{
#if JUCE_LINUX
    return alsaSystem.getOutputs();
#elif JUCE_WINDOWS
    return winMmSystem.getOutputs();
#else
    return juce::MidiOutput::getAvailableDevices();
#endif
}

juce::StringArray JuceMidiSystem::getOtherProgramsConnectedTo (const juce::String& inputIdentifier,
                                                               const juce::String& outputIdentifier)
{
#if JUCE_LINUX
    return alsaSystem.getOtherProgramsConnectedTo (inputIdentifier, outputIdentifier);
#else
    juce::ignoreUnused (inputIdentifier, outputIdentifier);
    return {};
#endif
}

std::unique_ptr<MidiInputConnection> JuceMidiSystem::openInput (const juce::String& identifier,
                                                                const juce::String& listedName, MidiReceiver& receiver)
{
    OpenRefusal ignored;
    return openInputOrSayWhy (identifier, listedName, receiver, ignored);
}

std::unique_ptr<MidiOutputConnection> JuceMidiSystem::openOutput (const juce::String& identifier,
                                                                  const juce::String& listedName)
{
    OpenRefusal ignored;
    return openOutputOrSayWhy (identifier, listedName, ignored);
}

std::unique_ptr<MidiInputConnection> JuceMidiSystem::openInputOrSayWhy (const juce::String& identifier,
                                                                        const juce::String& listedName,
                                                                        MidiReceiver& receiver, OpenRefusal& refusal)
{
#if JUCE_LINUX
    juce::ignoreUnused (refusal);
    return alsaSystem.openInput (identifier, listedName, receiver);
#elif JUCE_WINDOWS
    // JUCE's WinMM input passes SysEx on in the pieces the driver gives and says nothing when
    // another program holds the port (see WinMmInput.h).
    return winMmSystem.openInputOrSayWhy (identifier, listedName, receiver, refusal);
#else
    juce::ignoreUnused (refusal);
    auto adapter = std::make_unique<ReceiverAdapter> (receiver, listedName);
    auto input = juce::MidiInput::openDevice (identifier, adapter.get());
    if (input == nullptr)
        return {};

    return std::make_unique<JuceInputConnection> (std::move (input), std::move (adapter), listedName);
#endif
}

std::unique_ptr<MidiOutputConnection> JuceMidiSystem::openOutputOrSayWhy (const juce::String& identifier,
                                                                          const juce::String& listedName,
                                                                          OpenRefusal& refusal)
{
#if JUCE_LINUX
    // JUCE's ALSA output cannot send a SysEx message in pieces (see AlsaSequencerConnection.h).
    juce::ignoreUnused (refusal);
    return alsaSystem.openOutput (identifier, listedName);
#elif JUCE_WINDOWS
    // JUCE's WinMM output sends short pieces as short messages and cannot report a failure (see WinMmOutput.h).
    return winMmSystem.openOutputOrSayWhy (identifier, listedName, refusal);
#else
    juce::ignoreUnused (refusal);
    auto output = juce::MidiOutput::openDevice (identifier);
    if (output == nullptr)
        return {};

    return std::make_unique<JuceOutputConnection> (std::move (output), listedName);
#endif
}

bool JuceMidiSystem::isAvailable (juce::String& problem)
{
#if JUCE_LINUX
    // The process's one sequencer client, opened at most once a second while it fails.
    return alsaSystem.isAvailable (problem);
#else
    juce::ignoreUnused (problem);
#endif
    return true;
}

bool JuceMidiSystem::addPortChangeEvent (juce::WaitableEvent& event)
{
#if JUCE_LINUX
    return alsaSystem.addPortChangeEvent (event);
#else
    juce::ignoreUnused (event);
    return false;
#endif
}

void JuceMidiSystem::removePortChangeEvent (juce::WaitableEvent& event)
{
#if JUCE_LINUX
    alsaSystem.removePortChangeEvent (event);
#else
    juce::ignoreUnused (event);
#endif
}
} // namespace vfu
