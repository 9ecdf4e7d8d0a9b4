#include "definitions/DefinitionFile.h"

#include "core/FileKind.h"

namespace vfu::definitions
{
namespace
{
const char* const quitNote = "\n\nThe app will quit.";

juce::String tooLargeMessage (const juce::File& file)
{
    return "The definition document '" + file.getFullPathName() + "' is larger than " +
           juce::String (maximumDocumentFileBytes / (1024 * 1024)) + " MB." + quitNote;
}
} // namespace

bool readDocumentFileBytes (const juce::File& file, juce::MemoryBlock& bytes, juce::String& refusal)
{
    bytes.reset();
    // Missing files and folders read as no bytes; the loader reports them as malformed documents.
    if (!file.exists() || file.isDirectory())
        return true;

    // A FIFO would block the read and a device such as /dev/zero never ends: refused by kind.
    if (whyNotARegularFile (file).isNotEmpty())
    {
        refusal = "The definition document '" + file.getFullPathName() + "' is not a regular file." + quitNote;
        return false;
    }

    const auto size = file.getSize();
    if (size > maximumDocumentFileBytes)
    {
        refusal = tooLargeMessage (file);
        return false;
    }

    // The read is bounded too: the file may grow after it was looked at.
    juce::FileInputStream input (file);
    if (!input.openedOk())
        return true;

    if (input.readIntoMemoryBlock (bytes, maximumDocumentFileBytes + 1) > (size_t) maximumDocumentFileBytes)
    {
        bytes.reset();
        refusal = tooLargeMessage (file);
        return false;
    }

    return true;
}
} // namespace vfu::definitions
