#pragma once

#include <juce_core/juce_core.h>

namespace vfu::definitions
{
// The deepest element nesting a definition document may have. Real documents need six levels
// (root, updater, state, check, check, instruction); the limit keeps the recursive XML reader,
// the instruction parser and the element tree's destruction far from the end of the stack,
// also on threads with small stacks.
constexpr int maximumElementNesting = 256;

// What a quick scan of the XML text finds: it skips comments, CDATA sections, processing
// instructions, declarations and quoted attribute values, and does not check that the text is
// well-formed.
struct MarkupFindings
{
    bool nestedTooDeep = false;        // elements nest deeper than the depth asked for
    bool instructionInContent = false; // a processing instruction inside an element or a declaration
};

// JUCE's XML reader loops forever (and, keeping empty text, allocates without end) on a processing
// instruction inside an element followed by text, so such documents are refused as well.
MarkupFindings scanMarkup (const juce::String& xmlText, int maximumDepth);

// Whether elements in the XML text nest deeper than maximumDepth.
bool isNestedDeeperThan (const juce::String& xmlText, int maximumDepth);
} // namespace vfu::definitions
