#include "definitions/DefinitionFile.h"

#include <sys/stat.h>

namespace vfu::definitions
{
namespace
{
const char* const quitNote = "\n\nThe app will quit.";

// What the file system says of an entry, following symbolic links. JUCE tells only files from
// folders, so a FIFO or a device passes its existsAsFile().
enum class EntryKind
{
    none,
    regularFile,
    folder,
    other
};

EntryKind findEntryKind (const juce::File& file, juce::int64& size)
{
#if JUCE_WINDOWS
    struct _stat64 status;
    if (_wstat64 (file.getFullPathName().toWideCharPointer(), &status) != 0)
        return EntryKind::none;
    const auto type = status.st_mode & _S_IFMT;
    const bool regular = type == _S_IFREG, folder = type == _S_IFDIR;
#else
    struct stat status;
    if (stat (file.getFullPathName().toRawUTF8(), &status) != 0)
        return EntryKind::none;
    const bool regular = S_ISREG (status.st_mode), folder = S_ISDIR (status.st_mode);
#endif

    size = (juce::int64) status.st_size;
    return regular ? EntryKind::regularFile : folder ? EntryKind::folder : EntryKind::other;
}

juce::String tooLargeMessage (const juce::File& file)
{
    return "The definition document '" + file.getFullPathName() + "' is larger than " +
           juce::String (maximumDocumentFileBytes / (1024 * 1024)) + " MB." + quitNote;
}
} // namespace

bool readDocumentFileBytes (const juce::File& file, juce::MemoryBlock& bytes, juce::String& refusal)
{
    bytes.reset();
    juce::int64 size = 0;
    const auto kind = findEntryKind (file, size);

    if (kind == EntryKind::none || kind == EntryKind::folder)
        return true;

    if (kind == EntryKind::other)
    {
        refusal = "The definition document '" + file.getFullPathName() + "' is not a regular file." + quitNote;
        return false;
    }

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
