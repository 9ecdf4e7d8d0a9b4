// Deeply nested documents are refused before the recursive XML reader sees them.

#include "DefinitionDocuments.h"

#include "definitions/DocumentNesting.h"

#include <gtest/gtest.h>

using namespace vfu::test;
using vfu::definitions::isNestedDeeperThan;

namespace
{
juce::String nestedChecks (int levels)
{
    return documentWithStates ("<State name=\"Idle\" pollingMode=\"x\">" +
                               juce::String::repeatedString ("<Check>", levels) + "<Print text=\"deep\"/>" +
                               juce::String::repeatedString ("</Check>", levels) + "</State>");
}
} // namespace

TEST (DocumentNesting, counts_the_depth_of_open_elements_only)
{
    EXPECT_FALSE (isNestedDeeperThan ("<a><b><c/></b></a>", 3));
    EXPECT_TRUE (isNestedDeeperThan ("<a><b><c></c></b></a>", 2));
    EXPECT_FALSE (isNestedDeeperThan ("<a><b/><b/><b/><b></b></a>", 2));
    EXPECT_FALSE (isNestedDeeperThan ("<a><b></b><b></b><b></b></a>", 2));
    EXPECT_FALSE (isNestedDeeperThan ("", 0));
}

TEST (DocumentNesting, ignores_markup_inside_comments_CDATA_declarations_and_attribute_values)
{
    EXPECT_FALSE (isNestedDeeperThan ("<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY e \"x\">]>"
                                      "<a><!-- <b><c><d> --><![CDATA[<b><c>]]>"
                                      "<b text=\"<c><d>\" other='>' /></a>",
                                      1));
}

TEST (DocumentNesting, loads_a_document_nested_within_the_limit)
{
    const auto updater = loadText (nestedChecks (200));
    const auto* check = stateOf (*updater, "Idle").instructions.front().get();

    for (int level = 1; level < 200; ++level)
    {
        const auto* asCheck = dynamic_cast<const FirmwareUpdater::State::CheckInstruction*> (check);
        ASSERT_NE (asCheck, nullptr) << level;
        ASSERT_EQ (asCheck->instructions.size(), 1u) << level;
        check = asCheck->instructions.front().get();
    }
}

TEST (DocumentNesting, rejects_a_deeper_document_as_malformed_without_crashing)
{
    const juce::String expected ("<FirmwareUpdaters> must be the root element.\n\nThe app will quit.");

    EXPECT_EQ (rejectionOf (nestedChecks (300)), expected);
    EXPECT_EQ (rejectionOf (nestedChecks (300000)), expected);

    const auto file = createTemporaryFolder ("deep").getChildFile ("deep.xml");
    ASSERT_TRUE (file.replaceWithText (nestedChecks (300000)));

    try
    {
        FirmwareUpdater updater (file, "Quillbox", false, nullptr, {}, withoutProgramArchive());
        ADD_FAILURE() << "accepted";
    }
    catch (const FirmwareUpdater::FirmwareUpdaterException& e)
    {
        EXPECT_EQ (e.message, expected);
    }
}

TEST (DocumentNesting, refuses_processing_instructions_inside_elements_which_would_hang_the_reader)
{
    const juce::String expected ("<FirmwareUpdaters> must be the root element.\n\nThe app will quit.");

    // JUCE's reader loops forever on an instruction in content followed by text.
    EXPECT_EQ (rejectionOf (documentWithStates ("<State name=\"Idle\" pollingMode=\"x\"><?pi?>text</State>")),
               expected);
    EXPECT_EQ (rejectionOf (
                   documentWithStates ("<State name=\"Idle\" pollingMode=\"x\">a<?pi x?>b<Print text=\"i\"/></State>")),
               expected);
    // An entity's text could carry one into content.
    EXPECT_EQ (rejectionOf ("<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e \"<a><?p?>t</a>\">]>" +
                            documentWithStates ("<State name=\"Idle\" pollingMode=\"x\">&e;</State>")
                                .fromFirstOccurrenceOf ("?>", false, false)),
               expected);

    // A malformed attribute value that hides an instruction from any scan of quotes (the fuzzer's find).
    EXPECT_EQ (rejectionOf (documentWithStates ("<State name=\"Idle\" pollingMode=\"x\"><PollingState value=\"a\" "
                                                "gotoState=\"<?xml version=\"1.0\"?>\ntext\"/></State>")),
               expected);

    // Instructions before the first element are the prolog's and fine; later, outside a comment or
    // CDATA section, not.
    EXPECT_FALSE (vfu::definitions::scanMarkup ("<?xml version=\"1.0\"?><?style x?><!-- c --><a t=\"1\"><b/></a>", 256)
                      .instructionInContent);
    EXPECT_TRUE (vfu::definitions::scanMarkup ("<a><b/><?x?></a>", 256).instructionInContent);
}

TEST (DocumentNesting, loads_a_document_with_an_instruction_in_a_comment_or_CDATA_section)
{
    const auto updater =
        loadText (documentWithStates ("<!-- written with <?php echo 1; ?> --><State name=\"Idle\" pollingMode=\"x\">"
                                      "<![CDATA[ <?x?> text ]]><Print text=\"kept\"/></State>"));
    EXPECT_EQ (stateOf (*updater, "Idle").instructions.size(), 1u);

    using vfu::definitions::scanMarkup;
    EXPECT_FALSE (scanMarkup ("<a><!-- <?x?> --></a>", 256).instructionInContent);
    // A tag holding "<" is read differently by different readers: from there on any "<?" counts.
    EXPECT_TRUE (scanMarkup ("<a t='<!--'><![CDATA[<?x?>]]>t</a>", 256).instructionInContent);
    EXPECT_TRUE (scanMarkup ("<a><!-- c --><?x?>t</a>", 256).instructionInContent);
    EXPECT_TRUE (scanMarkup ("<a><![CDATA[ ]]><?x?>t</a>", 256).instructionInContent);
}

TEST (DocumentNesting, a_comment_that_the_reader_would_not_see_as_one_hides_no_instruction)
{
    const juce::String expected ("<FirmwareUpdaters> must be the root element.\n\nThe app will quit.");

    // "<!--" inside a quoted value opens no comment: the instruction after the tag is in content.
    EXPECT_EQ (
        rejectionOf (documentWithStates ("<State name=\"Idle\" pollingMode=\"x\"><Print text=\"> <!-- \"/><?pi?>t"
                                         "<Print text=\"-->\"/></State>")),
        expected);
    // A comment's end is searched after its opening, as the reader does: "<!-->" does not end it.
    EXPECT_FALSE (vfu::definitions::scanMarkup ("<a><!--><?x?>t--></a>", 256).instructionInContent);
    EXPECT_TRUE (vfu::definitions::scanMarkup ("<a><!---->--><?x?>t</a>", 256).instructionInContent);
    // Entities are parsed as markup where they are used: with a document type, any "<?" counts.
    EXPECT_EQ (rejectionOf ("<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY d \"<b><!--\"><!ENTITY e \"<a><?p?>t</a>\">"
                            "<!ENTITY f \"-->\">]>" +
                            documentWithStates ("<State name=\"Idle\" pollingMode=\"x\">&e;</State>")
                                .fromFirstOccurrenceOf ("?>", false, false)),
               expected);
}

TEST (DocumentNesting, refuses_entity_declarations_which_the_reader_would_expand_without_end)
{
    const juce::String expected ("<!ENTITY> declarations are not supported.\n\nThe app will quit.");
    const auto body = documentWithStates ("<State name=\"Idle\" pollingMode=\"x\"><Print text=\"&a;\"/></State>")
                          .fromFirstOccurrenceOf ("?>", false, false);

    // An entity that holds itself, and one whose text, used as content, nests elements far beyond the limit.
    EXPECT_EQ (rejectionOf ("<!DOCTYPE FirmwareUpdaters [<!ENTITY a \"XY&a;\">]>" + body), expected);
    const auto deep =
        juce::String::repeatedString ("<Check>", 60000) + juce::String::repeatedString ("</Check>", 60000);
    EXPECT_EQ (rejectionOf ("<!DOCTYPE FirmwareUpdaters [<!entity a '" + deep + "'>]>" +
                            body.replace ("<Print text=\"&a;\"/>", "&a;")),
               expected);

    // Other declarations still load.
    EXPECT_EQ (rejectionOf ("<!DOCTYPE FirmwareUpdaters [<!ELEMENT State ANY>]><!-- <!ENTITY> -->" +
                            body.replace ("&a;", "&lt;&#65;")),
               "accepted");
}

TEST (DocumentNesting, ends_comments_and_instructions_where_the_reader_does)
{
    // The reader looks for "-->" (or "?>") after "<!--" (or "<?"): "<!-->" ends nothing, and
    // nesting after the real end must be counted, not taken for a quoted value.
    const auto deep = juce::String::repeatedString ("<Check>", 300) + juce::String::repeatedString ("</Check>", 300);
    const juce::String malformed ("<FirmwareUpdaters> must be the root element.\n\nThe app will quit.");

    EXPECT_EQ (rejectionOf (documentWithStates ("<State name=\"Idle\" pollingMode=\"x\"><!--><Print text=\"-->" + deep +
                                                "<Print text=\"\"/></State>")),
               malformed);
    EXPECT_TRUE (isNestedDeeperThan ("<a><?><b t=\"?><c><d><e>\"/></a>", 3));
}
