#pragma once

#include <juce_core/juce_core.h>

namespace vfu::definitions
{
// The deepest element nesting a definition document may have. Real documents need six levels
// (root, updater, state, check, check, instruction); the limit keeps the recursive XML reader,
// the instruction parser and the element tree's destruction far from the end of the stack,
// also on threads with small stacks.
constexpr int maximumElementNesting = 256;

// Whether elements in the XML text nest deeper than maximumDepth. A quick scan that skips
// comments, CDATA sections, processing instructions, the DOCTYPE and quoted attribute values;
// it does not check that the text is well-formed.
bool isNestedDeeperThan (const juce::String& xmlText, int maximumDepth);
} // namespace vfu::definitions
