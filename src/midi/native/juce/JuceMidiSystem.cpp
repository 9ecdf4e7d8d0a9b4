#include "midi/native/juce/JuceMidiSystem.h"

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

juce::Array<juce::MidiDeviceInfo> JuceMidiSystem::getInputs()
{
    return juce::MidiInput::getAvailableDevices();
}

juce::Array<juce::MidiDeviceInfo> JuceMidiSystem::getOutputs()
{
    return juce::MidiOutput::getAvailableDevices();
}

std::unique_ptr<MidiInputConnection> JuceMidiSystem::openInput (const juce::String& identifier,
                                                                const juce::String& listedName, MidiReceiver& receiver)
{
    auto adapter = std::make_unique<ReceiverAdapter> (receiver, listedName);
    auto input = juce::MidiInput::openDevice (identifier, adapter.get());
    if (input == nullptr)
        return {};

    return std::make_unique<JuceInputConnection> (std::move (input), std::move (adapter), listedName);
}

std::unique_ptr<MidiOutputConnection> JuceMidiSystem::openOutput (const juce::String& identifier,
                                                                  const juce::String& listedName)
{
    auto output = juce::MidiOutput::openDevice (identifier);
    if (output == nullptr)
        return {};

    return std::make_unique<JuceOutputConnection> (std::move (output), listedName);
}

bool JuceMidiSystem::isAvailable (juce::String& problem)
{
    juce::ignoreUnused (problem);
    return true;
}
} // namespace vfu
