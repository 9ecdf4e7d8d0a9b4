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
    return nameAfter ({}, ports).names;
}

SystemMidiLayer::Listing SystemMidiLayer::nameAfter (const Listing& previous,
                                                     const juce::Array<juce::MidiDeviceInfo>& ports)
{
    Listing listing;
    for (auto& port : ports)
    {
        // A port listed before under the same system name keeps its name, whatever left around it.
        const int before = previous.identifiers.indexOf (port.identifier);
        const bool kept = before >= 0 && previous.systemNames[before] == port.name;
        listing.names.add (kept ? previous.names[before] : juce::String());
        listing.identifiers.add (port.identifier);
        listing.systemNames.add (port.name);
    }

    // Names are compared exactly, as every lookup by name is. A new port takes the first of
    // "Quillbox", "Quillbox (2)", "Quillbox (3)"... that no other port uses, also where a port is
    // really called "Quillbox (2)".
    for (int i = 0; i < listing.names.size(); ++i)
    {
        if (listing.names[i].isNotEmpty())
            continue;

        auto name = listing.systemNames[i];
        for (int number = 2; listing.names.contains (name); ++number)
            name = listing.systemNames[i] + " (" + juce::String (number) + ")";
        listing.names.set (i, name);
    }

    return listing;
}

MidiLayer::PortList SystemMidiLayer::list (const juce::Array<juce::MidiDeviceInfo>& ports, Listing& kept)
{
    PortList result;
    {
        std::lock_guard<std::mutex> guard (lock);
        kept = nameAfter (kept, ports);
        result = { kept.names, kept.identifiers };
    }
    noteAvailability (result.names.isEmpty());
    return result;
}

void SystemMidiLayer::noteAvailability (bool listEmpty)
{
    juce::String problem;
    const bool available = !listEmpty || system.isAvailable (problem);

    if (!available)
    {
        if (!reportedUnavailable.exchange (true))
            writeLog ("MIDI system not available (" + problem + "); looking for it again once a second");
    }
    else if (reportedUnavailable.exchange (false))
    {
        writeLog ("MIDI system available");
    }
}

MidiLayer::PortList SystemMidiLayer::getInputPorts()
{
    return list (system.getInputs(), inputs);
}

MidiLayer::PortList SystemMidiLayer::getOutputPorts()
{
    return list (system.getOutputs(), outputs);
}

juce::StringArray SystemMidiLayer::getInputNames()
{
    return getInputPorts().names;
}

juce::StringArray SystemMidiLayer::getOutputNames()
{
    return getOutputPorts().names;
}

std::unique_ptr<MidiInputConnection> SystemMidiLayer::openInput (int index, MidiReceiver& receiver)
{
    OpenRefusal ignored;
    return openInputOrSayWhy (index, receiver, ignored);
}

std::unique_ptr<MidiOutputConnection> SystemMidiLayer::openOutput (int index)
{
    OpenRefusal ignored;
    return openOutputOrSayWhy (index, ignored);
}

std::unique_ptr<MidiInputConnection> SystemMidiLayer::openInputOrSayWhy (int index, MidiReceiver& receiver,
                                                                         OpenRefusal& refusal)
{
    juce::String identifier, name;
    {
        std::lock_guard<std::mutex> guard (lock);
        if (!juce::isPositiveAndBelow (index, inputs.names.size()))
            return {};
        identifier = inputs.identifiers[index];
        name = inputs.names[index];
    }

    return system.openInputOrSayWhy (identifier, name, receiver, refusal);
}

std::unique_ptr<MidiOutputConnection> SystemMidiLayer::openOutputOrSayWhy (int index, OpenRefusal& refusal)
{
    juce::String identifier, name;
    {
        std::lock_guard<std::mutex> guard (lock);
        if (!juce::isPositiveAndBelow (index, outputs.names.size()))
            return {};
        identifier = outputs.identifiers[index];
        name = outputs.names[index];
    }

    return system.openOutputOrSayWhy (identifier, name, refusal);
}
} // namespace vfu
