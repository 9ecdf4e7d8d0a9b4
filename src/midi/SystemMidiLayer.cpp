#include "midi/SystemMidiLayer.h"

#include "core/Log.h"

namespace vfu
{
SystemMidiLayer::SystemMidiLayer (MidiSystem& systemToUse, bool opensOnMessageThreadToUse)
    : system (systemToUse), onMessageThread (opensOnMessageThreadToUse)
{
}

juce::StringArray SystemMidiLayer::makeNamesDistinct (const juce::Array<juce::MidiDeviceInfo>& ports)
{
    juce::StringArray names;
    for (auto& port : ports)
        names.add (port.name);

    // Exact comparison, as every lookup by name is exact; the first of a kind keeps its name, so a
    // port chosen before its twin appeared is still found under the same name.
    names.appendNumbersToDuplicates (false, false);

    // A numbered name can itself collide with a port really called "Quillbox (2)": number again
    // until every name is unique (each round only appends, so this ends).
    while (true)
    {
        juce::StringArray unique (names);
        unique.removeDuplicates (false);
        if (unique.size() == names.size())
            break;
        names.appendNumbersToDuplicates (false, false);
    }

    return names;
}

SystemMidiLayer::Listing SystemMidiLayer::list (const juce::Array<juce::MidiDeviceInfo>& ports)
{
    Listing listing;
    listing.names = makeNamesDistinct (ports);
    for (auto& port : ports)
        listing.identifiers.add (port.identifier);
    return listing;
}

void SystemMidiLayer::noteAvailability (bool listEmpty)
{
    juce::String problem;
    const bool available = !listEmpty || system.isAvailable (problem);

    if (!available)
    {
        if (!reportedUnavailable.exchange (true))
            writeLog ("MIDI system not available (" + problem + "); looking for it again at every poll");
    }
    else if (reportedUnavailable.exchange (false))
    {
        writeLog ("MIDI system available");
    }
}

juce::StringArray SystemMidiLayer::getInputNames()
{
    auto listing = list (system.getInputs());
    noteAvailability (listing.names.isEmpty());

    std::lock_guard<std::mutex> guard (lock);
    inputs = listing;
    return listing.names;
}

juce::StringArray SystemMidiLayer::getOutputNames()
{
    auto listing = list (system.getOutputs());
    noteAvailability (listing.names.isEmpty());

    std::lock_guard<std::mutex> guard (lock);
    outputs = listing;
    return listing.names;
}

std::unique_ptr<MidiInputConnection> SystemMidiLayer::openInput (int index, MidiReceiver& receiver)
{
    juce::String identifier, name;
    {
        std::lock_guard<std::mutex> guard (lock);
        if (!juce::isPositiveAndBelow (index, inputs.names.size()))
            return {};
        identifier = inputs.identifiers[index];
        name = inputs.names[index];
    }

    return system.openInput (identifier, name, receiver);
}

std::unique_ptr<MidiOutputConnection> SystemMidiLayer::openOutput (int index)
{
    juce::String identifier, name;
    {
        std::lock_guard<std::mutex> guard (lock);
        if (!juce::isPositiveAndBelow (index, outputs.names.size()))
            return {};
        identifier = outputs.identifiers[index];
        name = outputs.names[index];
    }

    return system.openOutput (identifier, name);
}
} // namespace vfu
