#pragma once

#include "definitions/FirmwareUpdater.h"

// Describes a loaded definition for the command-line tool: `vfu check-definitions` and
// `vfu dump-definitions` print these.
namespace vfu::definitions
{
// "OK: 'Quillbox' (consoleMode = false): 13 states, initial state 'Idle, no device'".
juce::String summariseDefinition (const FirmwareUpdater& updater);

// The loaded model as a JSON object: the updater's fields, then every state (in the model's
// order) with its attributes, transitions and instructions.
juce::var describeDefinition (const FirmwareUpdater& updater);

// What a definition command prints and how it ends.
struct DefinitionCommandResult
{
    int exitCode = 0;
    juce::String output;
};

enum class DefinitionCommand
{
    check,
    dump
};

// Loads the document file (the inbuilt document when definitionFile is File()) for the device and
// mode through the application's constructors, with no program archive and no search folders.
// Success: exit code 0 with the summary or the JSON text; a rejected document: exit code 1 with
// the rejection message exactly.
DefinitionCommandResult runDefinitionCommand (DefinitionCommand command, const juce::File& definitionFile,
                                              const juce::String& deviceName, bool consoleMode);
} // namespace vfu::definitions
