#pragma once

#include "midi/MidiLayer.h"
#include "midi/UpdateObserver.h"

#include <memory>
#include <mutex>

namespace vfu
{
class Clock;

// Records what an updater exchanges with the MIDI system, around the layer it uses: the port lists
// whenever they change, every message sent and received with its port and the time since the
// start on the updater's clock, and (as the engine's observer) each state entered, the package
// selected and which messages are pieces of an image. One JSON object a line (docs/recordings.md);
// a piece is written as its image, offset, length and SHA-256, so the recording holds no firmware.
class RecordingMidiLayer final : public MidiLayer, public UpdateObserver
{
public:
    // `program` is the program and its version ("vfu 1.2.0"), `model` the device model.
    RecordingMidiLayer (MidiLayer& inner, Clock& clock, std::unique_ptr<juce::OutputStream> output,
                        const juce::String& program, const juce::String& model);
    ~RecordingMidiLayer() override;

    // Opens FILE for a recording (replacing it); null with the reason when it cannot be written.
    static std::unique_ptr<juce::OutputStream> createFile (const juce::File& file, juce::String& problem);

    // MidiLayer
    juce::StringArray getInputNames() override;
    juce::StringArray getOutputNames() override;
    // The inner layer's identifiers, not names standing in for them: the port choice tells twins
    // of one name apart by them.
    PortList getInputPorts() override;
    PortList getOutputPorts() override;
    juce::StringArray getOtherProgramsConnectedTo (const juce::String& inputIdentifier,
                                                   const juce::String& outputIdentifier) override;
    std::unique_ptr<MidiInputConnection> openInput (int index, MidiReceiver& receiver) override;
    std::unique_ptr<MidiOutputConnection> openOutput (int index) override;
    std::unique_ptr<MidiInputConnection> openInputOrSayWhy (int index, MidiReceiver& receiver,
                                                            OpenRefusal& refusal) override;
    std::unique_ptr<MidiOutputConnection> openOutputOrSayWhy (int index, OpenRefusal& refusal) override;
    bool opensOnMessageThread() const override { return inner.opensOnMessageThread(); }
    bool addPortChangeEvent (juce::WaitableEvent& event) override { return inner.addPortChangeEvent (event); }
    void removePortChangeEvent (juce::WaitableEvent& event) override { inner.removePortChangeEvent (event); }

    // UpdateObserver
    void stateEntered (const juce::String& stateName) override;
    void packageSelected (const juce::String& version, const std::vector<ImageDigest>& images) override;
    void imageTransferStarting (const juce::String& imageName, const juce::MemoryBlock& image) override;
    void imageTransferEnded() override;

private:
    class RecordingInput;
    class RecordingOutput;

    void recordMessage (bool toInstrument, const juce::String& port, const juce::MidiMessage& message);
    void recordPorts (const juce::StringArray* inputs, const juce::StringArray* outputs);
    juce::DynamicObject* timedLine();
    void writeLine (juce::DynamicObject* object); // under lock
    void writeHeaderIfNeeded();                   // under lock
    static juce::String toCompactJson (const juce::var& value);

    MidiLayer& inner;
    Clock& clock;
    const juce::int64 startMilliseconds;
    const juce::String program, model;

    std::mutex lock; // guards everything below and the writing
    std::unique_ptr<juce::OutputStream> output;
    bool headerWritten = false;
    juce::var package;
    juce::StringArray lastInputs, lastOutputs;
    bool portsSeen = false;
    juce::String imageName;
    juce::MemoryBlock image;
    juce::int64 imageOffset = -1; // -1 while no image is being sent

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RecordingMidiLayer)
};
} // namespace vfu
