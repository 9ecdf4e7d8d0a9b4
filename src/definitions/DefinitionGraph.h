#pragma once

#include "definitions/FirmwareUpdater.h"

// Draws a loaded state machine with Graphviz: `vfu graph` writes the dot text itself and has
// Graphviz's dot program turn it into SVG or PNG.
namespace vfu::definitions
{
// The machine as a Graphviz digraph: a node per state (name, polling mode, the instructions text
// shortened), an edge per transition (poll results, after-transfer results, GotoState, buttons by
// caption, the time-out dashed), the initial state marked by an arrow from a start point. Targets
// that name no state appear as red dashed nodes; transitions the engine never takes are grey.
juce::String writeDefinitionGraph (const FirmwareUpdater& updater);

// The text shortened for a node: white space runs made single blanks, cut to maximumLength
// characters with "..." at the end.
juce::String abbreviateText (const juce::String& text, int maximumLength);

// Graphviz's dot program found on PATH, or File() when it is not installed.
juce::File findGraphvizDot();

// Runs dot on the graph text to produce format ("svg", "png"). True with the rendered bytes, or
// false with what went wrong.
bool renderWithGraphviz (const juce::File& dotProgram, const juce::String& graphText, const juce::String& format,
                         juce::MemoryBlock& rendered, juce::String& error);
} // namespace vfu::definitions
