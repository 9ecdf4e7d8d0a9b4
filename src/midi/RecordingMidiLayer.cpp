#include "midi/RecordingMidiLayer.h"

#include "core/Clock.h"
#include "midi/Recording.h"

#include <juce_cryptography/juce_cryptography.h>

#include <cstring>

namespace vfu
{
// Records every message that reaches the updater's receiver, then passes it on.
class RecordingMidiLayer::RecordingInput final : public MidiInputConnection, private MidiReceiver
{
public:
    RecordingInput (RecordingMidiLayer& ownerToUse, MidiReceiver& receiverToUse)
        : owner (ownerToUse), receiver (receiverToUse)
    {
    }

    // Declared after the receiver it calls, so it is closed (and its deliveries ended) first.
    void attach (std::unique_ptr<MidiInputConnection> connection) { innerConnection = std::move (connection); }
    MidiReceiver& asReceiver() { return *this; }

    ~RecordingInput() override { innerConnection.reset(); }

    void start() override { innerConnection->start(); }
    void stop() override { innerConnection->stop(); }
    juce::String getName() const override { return innerConnection->getName(); }

private:
    void handleIncomingMidi (const juce::String& sourceName, const juce::MidiMessage& message) override
    {
        owner.recordMessage (false, sourceName, message);
        receiver.handleIncomingMidi (sourceName, message);
    }

    RecordingMidiLayer& owner;
    MidiReceiver& receiver;
    std::unique_ptr<MidiInputConnection> innerConnection;
};

// Records every message before handing it to the output, so that a reply never precedes it.
class RecordingMidiLayer::RecordingOutput final : public MidiOutputConnection
{
public:
    RecordingOutput (RecordingMidiLayer& ownerToUse, std::unique_ptr<MidiOutputConnection> connection)
        : owner (ownerToUse), innerConnection (std::move (connection))
    {
    }

    MidiSendResult sendMessageNow (const juce::MidiMessage& message) override
    {
        owner.recordMessage (true, innerConnection->getName(), message);
        return innerConnection->sendMessageNow (message);
    }

    juce::String getName() const override { return innerConnection->getName(); }

private:
    RecordingMidiLayer& owner;
    std::unique_ptr<MidiOutputConnection> innerConnection;
};

RecordingMidiLayer::RecordingMidiLayer (MidiLayer& innerLayer, Clock& clockToUse,
                                        std::unique_ptr<juce::OutputStream> out, const juce::String& programText,
                                        const juce::String& modelName)
    : inner (innerLayer), clock (clockToUse), startMilliseconds (clockToUse.now()), program (programText),
      model (modelName), output (std::move (out))
{
}

RecordingMidiLayer::~RecordingMidiLayer()
{
    const std::lock_guard<std::mutex> guard (lock);
    writeHeaderIfNeeded();
    if (output != nullptr)
        output->flush();
}

std::unique_ptr<juce::OutputStream> RecordingMidiLayer::createFile (const juce::File& file, juce::String& problem)
{
    auto stream = std::make_unique<juce::FileOutputStream> (file);
    if (stream->failedToOpen() || !stream->setPosition (0) || !stream->truncate().wasOk())
    {
        problem = "Cannot write the recording " + file.getFullPathName() + ": " + stream->getStatus().getErrorMessage();
        return {};
    }
    return stream;
}

juce::StringArray RecordingMidiLayer::getInputNames()
{
    auto names = inner.getInputNames();
    recordPorts (&names, nullptr);
    return names;
}

juce::StringArray RecordingMidiLayer::getOutputNames()
{
    auto names = inner.getOutputNames();
    recordPorts (nullptr, &names);
    return names;
}

MidiLayer::PortList RecordingMidiLayer::getInputPorts()
{
    auto ports = inner.getInputPorts();
    recordPorts (&ports.names, nullptr);
    return ports;
}

MidiLayer::PortList RecordingMidiLayer::getOutputPorts()
{
    auto ports = inner.getOutputPorts();
    recordPorts (nullptr, &ports.names);
    return ports;
}

juce::StringArray RecordingMidiLayer::getOtherProgramsConnectedTo (const juce::String& inputIdentifier,
                                                                   const juce::String& outputIdentifier)
{
    return inner.getOtherProgramsConnectedTo (inputIdentifier, outputIdentifier);
}

std::unique_ptr<MidiInputConnection> RecordingMidiLayer::openInput (int index, MidiReceiver& receiver)
{
    OpenRefusal ignored;
    return openInputOrSayWhy (index, receiver, ignored);
}

std::unique_ptr<MidiInputConnection> RecordingMidiLayer::openInputOrSayWhy (int index, MidiReceiver& receiver,
                                                                            OpenRefusal& refusal)
{
    auto input = std::make_unique<RecordingInput> (*this, receiver);
    auto connection = inner.openInputOrSayWhy (index, input->asReceiver(), refusal);
    if (connection == nullptr)
        return {};
    input->attach (std::move (connection));
    return input;
}

std::unique_ptr<MidiOutputConnection> RecordingMidiLayer::openOutput (int index)
{
    OpenRefusal ignored;
    return openOutputOrSayWhy (index, ignored);
}

std::unique_ptr<MidiOutputConnection> RecordingMidiLayer::openOutputOrSayWhy (int index, OpenRefusal& refusal)
{
    auto connection = inner.openOutputOrSayWhy (index, refusal);
    if (connection == nullptr)
        return {};
    return std::make_unique<RecordingOutput> (*this, std::move (connection));
}

void RecordingMidiLayer::stateEntered (const juce::String& stateName)
{
    auto* line = timedLine();
    line->setProperty ("state", stateName);
    const std::lock_guard<std::mutex> guard (lock);
    writeLine (line);
}

void RecordingMidiLayer::packageSelected (const juce::String& version, const std::vector<ImageDigest>& images)
{
    auto* description = new juce::DynamicObject();
    description->setProperty ("version", version);
    juce::Array<juce::var> list;
    for (auto& digest : images)
    {
        auto* item = new juce::DynamicObject();
        item->setProperty ("name", digest.name);
        item->setProperty ("sha256", digest.sha256);
        list.add (juce::var (item));
    }
    description->setProperty ("images", list);

    const std::lock_guard<std::mutex> guard (lock);
    package = juce::var (description);

    // Selected after the start: a line of its own.
    if (headerWritten)
    {
        auto* line = timedLine();
        line->setProperty ("package", package);
        writeLine (line);
    }
}

void RecordingMidiLayer::imageTransferStarting (const juce::String& name, const juce::MemoryBlock& bytes)
{
    const std::lock_guard<std::mutex> guard (lock);
    imageName = name;
    image = bytes;
    imageOffset = 0;
}

void RecordingMidiLayer::imageTransferEnded()
{
    const std::lock_guard<std::mutex> guard (lock);
    image.reset();
    imageOffset = -1;
}

void RecordingMidiLayer::recordMessage (bool toInstrument, const juce::String& port, const juce::MidiMessage& message)
{
    const auto* data = message.getRawData();
    const auto size = (size_t) message.getRawDataSize();
    auto* line = timedLine();

    const std::lock_guard<std::mutex> guard (lock);
    line->setProperty ("dir", toInstrument ? "out" : "in");
    line->setProperty ("port", port);

    // A piece is the next stretch of the image being sent: recorded by its place and hash.
    const bool isPiece = toInstrument && imageOffset >= 0 && size > 0 &&
                         (size_t) imageOffset + size <= image.getSize() &&
                         memcmp (static_cast<const char*> (image.getData()) + imageOffset, data, size) == 0;
    if (isPiece)
    {
        line->setProperty ("image", imageName);
        line->setProperty ("offset", imageOffset);
        line->setProperty ("length", (juce::int64) size);
        line->setProperty ("sha256", juce::SHA256 (data, size).toHexString());
        imageOffset += (juce::int64) size;
    }
    else
    {
        line->setProperty ("hex", recording::toHex (data, size));
    }

    writeLine (line);
}

void RecordingMidiLayer::recordPorts (const juce::StringArray* inputs, const juce::StringArray* outputs)
{
    const std::lock_guard<std::mutex> guard (lock);
    const bool changed =
        !portsSeen || (inputs != nullptr && *inputs != lastInputs) || (outputs != nullptr && *outputs != lastOutputs);
    if (inputs != nullptr)
        lastInputs = *inputs;
    if (outputs != nullptr)
        lastOutputs = *outputs;
    if (!changed)
        return;

    // The first look shows one list; the other is asked for at once, so wait for it.
    if (!portsSeen && (inputs == nullptr || outputs == nullptr))
    {
        if (inputs != nullptr)
            lastOutputs = inner.getOutputNames();
        else
            lastInputs = inner.getInputNames();
    }
    portsSeen = true;

    auto* lists = new juce::DynamicObject();
    lists->setProperty ("inputs", lastInputs);
    lists->setProperty ("outputs", lastOutputs);
    auto* line = timedLine();
    line->setProperty ("ports", juce::var (lists));
    writeLine (line);
}

juce::DynamicObject* RecordingMidiLayer::timedLine()
{
    auto* line = new juce::DynamicObject();
    line->setProperty ("t", (double) (clock.now() - startMilliseconds) / 1000.0);
    return line;
}

void RecordingMidiLayer::writeHeaderIfNeeded()
{
    if (headerWritten || output == nullptr)
        return;

    headerWritten = true;
    auto* header = new juce::DynamicObject();
    header->setProperty ("recording", recording::formatNumber);
    header->setProperty ("program", program);
    header->setProperty ("model", model);
    if (!package.isVoid())
        header->setProperty ("package", package);
    *output << toCompactJson (juce::var (header)) << "\n";
}

void RecordingMidiLayer::writeLine (juce::DynamicObject* object)
{
    const juce::var line (object);
    writeHeaderIfNeeded();
    if (output == nullptr)
        return;

    *output << toCompactJson (line) << "\n";
    output->flush();
}

juce::String RecordingMidiLayer::toCompactJson (const juce::var& value)
{
    // JUCE's one-line JSON puts a blank after every colon and comma; without them a whole Quillbox
    // update records in a tenth less. Strings and numbers are still written by JUCE.
    if (auto* object = value.getDynamicObject())
    {
        juce::StringArray fields;
        for (auto& property : object->getProperties())
            fields.add (juce::JSON::toString (juce::var (property.name.toString())) + ":" +
                        toCompactJson (property.value));
        return "{" + fields.joinIntoString (",") + "}";
    }

    if (auto* array = value.getArray())
    {
        juce::StringArray items;
        for (auto& item : *array)
            items.add (toCompactJson (item));
        return "[" + items.joinIntoString (",") + "]";
    }

    // Times in milliseconds: three decimals, where JUCE would write every digit of the double.
    if (value.isDouble())
        return juce::String ((double) value, 3);

    return juce::JSON::toString (value, true);
}
} // namespace vfu
