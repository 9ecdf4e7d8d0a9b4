#pragma once

// Builds small definition documents for the loader tests and loads them.

#include "support/TestEnvironment.h"
#include "definitions/FirmwareUpdater.h"

#include <juce_core/juce_core.h>

#include <initializer_list>
#include <memory>
#include <utility>

namespace vfu::test
{
// Two states that satisfy the default updater attributes below.
inline const char* const minimalStates = R"xml(<State name="Idle" pollingMode="MIDI Device inquiry"/>
<State name="Busy" pollingMode="none"/>)xml";

// One attribute of a FirmwareUpdater element; a null value leaves the attribute out.
using AttributeOverride = std::pair<const char*, const char*>;

// The opening tag of a valid Quillbox FirmwareUpdater, with some attributes replaced or left out.
inline juce::String updaterTag (std::initializer_list<AttributeOverride> overrides = {})
{
    juce::StringPairArray attributes;
    attributes.set ("deviceName", "Quillbox");
    attributes.set ("communicationMode", "MIDI");
    attributes.set ("MIDIDeviceID", "0008");
    attributes.set ("fileNamePattern", "quillbox-fw-");
    attributes.set ("SHA256Check", "true");
    attributes.set ("consoleMode", "false");
    attributes.set ("initialState", "Idle");
    attributes.set ("timeout", "45");
    attributes.set ("timeoutState", "Idle");

    juce::StringArray removed;

    for (const auto& [name, value] : overrides)
    {
        if (value == nullptr)
            removed.add (name);
        else
            attributes.set (name, value);
    }

    juce::String tag ("<FirmwareUpdater");

    for (const auto& name : attributes.getAllKeys())
        if (!removed.contains (name))
            tag << " " << name << "=\"" << attributes[name] << "\"";

    return tag + ">";
}

// A FirmwareUpdater element: the tag above around the given states.
inline juce::String updaterElement (std::initializer_list<AttributeOverride> overrides = {},
                                    const juce::String& states = minimalStates)
{
    return updaterTag (overrides) + "\n" + states + "\n</FirmwareUpdater>\n";
}

inline juce::String document (const juce::String& content)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FirmwareUpdaters>\n" + content + "</FirmwareUpdaters>\n";
}

// A document with one valid Quillbox updater whose states are given.
inline juce::String documentWithStates (const juce::String& states)
{
    return document (updaterElement ({}, states));
}

// No program archive and no search folders: the loader tests read no packages.
inline vfu::UpdaterEnvironment withoutProgramArchive()
{
    vfu::UpdaterEnvironment environment;
    environment.programFile = juce::File();
    return environment;
}

inline std::unique_ptr<FirmwareUpdater> loadText (const juce::String& text, const juce::String& deviceName = "Quillbox",
                                                  bool consoleMode = false)
{
    return std::make_unique<FirmwareUpdater> (text, deviceName, consoleMode, nullptr, juce::Array<juce::File>(),
                                              withoutProgramArchive());
}

// The message that rejects the document, or "accepted".
inline juce::String rejectionOf (const juce::String& text, const juce::String& deviceName = "Quillbox",
                                 bool consoleMode = false)
{
    try
    {
        loadText (text, deviceName, consoleMode);
        return "accepted";
    }
    catch (const FirmwareUpdater::FirmwareUpdaterException& e)
    {
        return e.message;
    }
}

inline const FirmwareUpdater::State& stateOf (const FirmwareUpdater& updater, const juce::String& name)
{
    const auto* state = updater.getMachine()->getState (name);

    if (state == nullptr)
        throw std::runtime_error (("no state " + name).toStdString());

    return *state;
}

// The instruction at that index as the expected class, or null.
template <typename InstructionClass>
const InstructionClass* instructionAt (const FirmwareUpdater::State::InstructionList& list, size_t index)
{
    return index < list.size() ? dynamic_cast<const InstructionClass*> (list[index].get()) : nullptr;
}
} // namespace vfu::test
