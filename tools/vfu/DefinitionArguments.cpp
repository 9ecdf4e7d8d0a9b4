#include "DefinitionArguments.h"
#include "CommandRegistry.h"

#include "core/TextFromBytes.h"
#include "definitions/DefinitionFile.h"
#include "definitions/DocumentNesting.h"
#include "definitions/InbuiltDefinitions.h"

namespace vfu::tool
{
namespace
{
// Through the loader's bounded reader: a FIFO or a device must not block the device-model check
// before the loader can refuse it.
juce::String readText (const juce::File& file)
{
    juce::MemoryBlock bytes;
    juce::String refusal;
    if (!definitions::readDocumentFileBytes (file, bytes, refusal))
        return {};
    return textFromBytes (bytes.getData(), bytes.getSize());
}

// The deviceName of every FirmwareUpdater element, in document order; empty for a document that
// JUCE's reader must not be given (see DocumentNesting.h) or that does not parse.
juce::StringArray listDeviceModels (const juce::String& text)
{
    const auto markup = definitions::scanMarkup (text, definitions::maximumElementNesting);
    if (markup.nestedTooDeep || markup.instructionInContent)
        return {};

    const auto root = juce::XmlDocument::parse (text);
    juce::StringArray names;
    if (root != nullptr && root->hasTagName ("FirmwareUpdaters"))
        for (auto* updater : root->getChildWithTagNameIterator ("FirmwareUpdater"))
            names.addIfNotAlreadyThere (updater->getStringAttribute ("deviceName"));
    return names;
}
} // namespace

juce::File resolveDefinitionFile (const std::string& path)
{
    const auto file = resolvePath (toJuce (path));
    if (file.isDirectory())
        failUsage (file.getFullPathName() + " is a folder, not a definition document");
    if (!file.existsAsFile())
        failUsage ("No such file: " + file.getFullPathName());
    return file;
}

void requireDeviceModel (const juce::File& definitionFile, const juce::String& deviceName)
{
    const auto names = listDeviceModels (definitionFile == juce::File() ? definitions::getInbuiltDefinitions()
                                                                        : readText (definitionFile));
    if (!names.isEmpty() && !names.contains (deviceName))
        failUsage ("Unknown device model " + deviceName.quoted() + "; the definition document holds " +
                   names.joinIntoString (", "));
}
} // namespace vfu::tool
