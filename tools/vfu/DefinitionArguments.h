#pragma once

#include <juce_core/juce_core.h>

#include <string>

// Checks of the definition document and the device model named on a command line, made before a
// command loads them, so that a mistyped name is a usage error that says what would be accepted.
namespace vfu::tool
{
// The document at path, relative to the working directory: a usage error when nothing or a folder is there.
juce::File resolveDefinitionFile (const std::string& path);

// A usage error when the document (the inbuilt one for an empty File) holds updaters but none for
// deviceName; the message lists the models it holds. A document that cannot be read is left to
// the loader, which says why.
void requireDeviceModel (const juce::File& definitionFile, const juce::String& deviceName);
} // namespace vfu::tool
