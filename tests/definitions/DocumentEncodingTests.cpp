// Documents whose bytes are not valid UTF-8 are refused as malformed before any reader walks them;
// valid UTF-8 beyond ASCII still loads.

#include "DefinitionDocuments.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace vfu::test;

namespace
{
const juce::String malformed ("<FirmwareUpdaters> must be the root element.\n\nThe app will quit.");

// The document's bytes with a raw byte sequence spliced into a comment before the root's end.
juce::MemoryBlock withRawBytes (const char* raw)
{
    const auto text = documentWithStates ("<State name=\"Idle\" pollingMode=\"x\"><Print text=\"idle\"/></State>");
    const auto end = text.lastIndexOf ("</FirmwareUpdaters>");
    juce::MemoryOutputStream out;
    out << text.substring (0, end) << "<!-- ";
    out.write (raw, std::strlen (raw));
    out << " -->" << text.substring (end);
    return out.getMemoryBlock();
}

juce::String rejectionOfFile (const juce::MemoryBlock& bytes)
{
    const auto file = createTemporaryFolder ("encoding").getChildFile ("StateMachines.xml");
    file.replaceWithData (bytes.getData(), bytes.getSize());

    try
    {
        FirmwareUpdater updater (file, "Quillbox", false, nullptr, {}, withoutProgramArchive());
        return "accepted";
    }
    catch (const FirmwareUpdater::FirmwareUpdaterException& e)
    {
        return e.message;
    }
}

juce::String rejectionOfText (const juce::MemoryBlock& bytes)
{
    // Built without validation, as a String made from a file's raw bytes would be.
    const juce::String text (juce::CharPointer_UTF8 (static_cast<const char*> (bytes.getData())),
                             juce::CharPointer_UTF8 (static_cast<const char*> (bytes.getData()) + bytes.getSize()));
    return rejectionOf (text);
}
} // namespace

TEST (DocumentEncoding, refuses_bytes_that_are_not_utf8_as_a_malformed_document)
{
    for (const char* raw : { "\xc3", "\xff\xfe", "\xe2\x82", "\x80 stray continuation" })
    {
        SCOPED_TRACE (juce::String::toHexString (raw, (int) std::strlen (raw)));
        EXPECT_EQ (rejectionOfFile (withRawBytes (raw)), malformed);
        EXPECT_EQ (rejectionOfText (withRawBytes (raw)), malformed);
    }
}

TEST (DocumentEncoding, a_sequence_cut_off_at_the_end_of_the_file_is_refused)
{
    // After the root, where the reader never looks, and inside an unfinished comment, where it
    // would step over the end of the file while looking for the comment's end.
    auto afterRoot = withRawBytes ("");
    afterRoot.append ("\xe2\x82", 2);
    EXPECT_EQ (rejectionOfFile (afterRoot), malformed);

    const char unfinished[] = "<FirmwareUpdaters><!-- \xe2\x82";
    EXPECT_EQ (rejectionOfFile (juce::MemoryBlock (unfinished, sizeof (unfinished) - 1)), malformed);
}

TEST (DocumentEncoding, loads_valid_utf8_beyond_ascii)
{
    EXPECT_EQ (rejectionOfFile (withRawBytes ("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb9")), "accepted");

    const auto updater = loadText (documentWithStates (juce::String::fromUTF8 ("<State name=\"Idle\" pollingMode=\"x\">"
                                                                               "<Print text=\"Gr\xc3\xbc\xc3\x9f"
                                                                               "e\"/></State>")));
    EXPECT_NE (updater->getMachine()->getState ("Idle"), nullptr);
}

TEST (DocumentEncoding, a_file_holding_only_a_byte_order_mark_is_malformed)
{
    EXPECT_EQ (rejectionOfFile (juce::MemoryBlock ("\xef\xbb\xbf", 3)), malformed);
    EXPECT_EQ (rejectionOfFile (juce::MemoryBlock ("\xff\xfe", 2)), malformed);
}
