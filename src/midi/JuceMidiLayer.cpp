#include "midi/JuceMidiLayer.h"

namespace vfu
{
namespace
{
juce::StringArray namesOf (const juce::Array<juce::MidiDeviceInfo>& devices)
{
    juce::StringArray names;
    for (auto& device : devices)
        names.add (device.name);
    return names;
}

// Passes a JUCE callback on to a MidiReceiver with the name of the port it came from.
class ReceiverAdapter final : public juce::MidiInputCallback
{
public:
    explicit ReceiverAdapter (MidiReceiver& r) : receiver (r) {}

    void handleIncomingMidiMessage (juce::MidiInput* source, const juce::MidiMessage& message) override
    {
        receiver.handleIncomingMidi (source != nullptr ? source->getName() : juce::String(), message);
    }

private:
    MidiReceiver& receiver;
};

class JuceInputConnection final : public MidiInputConnection
{
public:
    JuceInputConnection (std::unique_ptr<juce::MidiInput> in, std::unique_ptr<ReceiverAdapter> a)
        : adapter (std::move (a)), input (std::move (in))
    {
    }

    ~JuceInputConnection() override
    {
        input->stop();
        input.reset(); // before the adapter it calls
    }

    void start() override { input->start(); }
    void stop() override { input->stop(); }
    juce::String getName() const override { return input->getName(); }

private:
    std::unique_ptr<ReceiverAdapter> adapter;
    std::unique_ptr<juce::MidiInput> input;
};

class JuceOutputConnection final : public MidiOutputConnection
{
public:
    explicit JuceOutputConnection (std::unique_ptr<juce::MidiOutput> out) : output (std::move (out)) {}

    void sendMessageNow (const juce::MidiMessage& message) override { output->sendMessageNow (message); }
    juce::String getName() const override { return output->getName(); }

private:
    std::unique_ptr<juce::MidiOutput> output;
};
} // namespace

juce::StringArray JuceMidiLayer::getInputNames()
{
    return namesOf (juce::MidiInput::getAvailableDevices());
}

juce::StringArray JuceMidiLayer::getOutputNames()
{
    return namesOf (juce::MidiOutput::getAvailableDevices());
}

std::unique_ptr<MidiInputConnection> JuceMidiLayer::openInput (int index, MidiReceiver& receiver)
{
    const auto devices = juce::MidiInput::getAvailableDevices();
    if (!juce::isPositiveAndBelow (index, devices.size()))
        return {};

    std::unique_ptr<ReceiverAdapter> adapter;
    auto* callback = dynamic_cast<juce::MidiInputCallback*> (&receiver);

    if (callback == nullptr)
    {
        adapter = std::make_unique<ReceiverAdapter> (receiver);
        callback = adapter.get();
    }

    auto input = juce::MidiInput::openDevice (devices[index].identifier, callback);
    if (input == nullptr)
        return {};

    return std::make_unique<JuceInputConnection> (std::move (input), std::move (adapter));
}

std::unique_ptr<MidiOutputConnection> JuceMidiLayer::openOutput (int index)
{
    const auto devices = juce::MidiOutput::getAvailableDevices();
    if (!juce::isPositiveAndBelow (index, devices.size()))
        return {};

    auto output = juce::MidiOutput::openDevice (devices[index].identifier);
    if (output == nullptr)
        return {};

    return std::make_unique<JuceOutputConnection> (std::move (output));
}
} // namespace vfu
