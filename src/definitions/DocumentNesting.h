#pragma once

#include <juce_core/juce_core.h>

#include <vector>

namespace vfu::definitions
{
// The deepest element nesting a definition document may have. Real documents need six levels
// (root, updater, state, check, check, instruction); the limit keeps the recursive XML reader,
// the instruction parser and the element tree's destruction far from the end of the stack,
// also on threads with small stacks.
constexpr int maximumElementNesting = 256;

// What a quick scan of the XML text finds. The depth scan skips comments, CDATA sections,
// processing instructions, declarations and quoted attribute values; neither checks that the
// text is well-formed.
struct MarkupFindings
{
    bool nestedTooDeep = false;        // elements nest deeper than the depth asked for
    bool instructionInContent = false; // "<?" after the first element's start, outside comments and CDATA
    bool entityDeclaration = false;    // "<!ENTITY" (any case) as a declaration or inside one
};

// JUCE's XML reader loops forever (and, keeping empty text, allocates without end) on a processing
// instruction inside an element followed by text. Only the prolog (before the first element) may
// hold instructions; later, "<?" refuses the document unless it stands in a comment or a CDATA
// section (or anywhere, in a document with a document type declaration or a tag holding a "<").
// Comments and instructions end at the first "-->" or "?>" after their opening, as in JUCE's reader,
// so that the depth counted is the depth it builds. The reader expands a document's own entities
// recursively and parses their text as elements, which no scan of the text can follow: entity
// declarations (JUCE reads them from a document type's internal subset) are reported, and the
// loader refuses them.
MarkupFindings scanMarkup (const juce::String& xmlText, int maximumDepth);

// Whether elements in the XML text nest deeper than maximumDepth.
bool isNestedDeeperThan (const juce::String& xmlText, int maximumDepth);

// One element's start tag: its name as written and the line it begins on (the first line is 1).
struct StartTag
{
    juce::String name;
    int line = 0;
};

// The start tags of the text's elements in document order, skipping comments, CDATA sections,
// processing instructions, declarations and quoted attribute values as scanMarkup does. JUCE's
// XML reader keeps no positions; on a well-formed document these tags pair one to one with the
// elements of its tree, visited parent first, in document order.
std::vector<StartTag> findStartTags (const juce::String& xmlText);
} // namespace vfu::definitions
