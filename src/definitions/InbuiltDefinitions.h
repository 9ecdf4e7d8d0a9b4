#pragma once

#include <juce_core/juce_core.h>

namespace vfu::definitions
{
// The definition document built into the program, used when no StateMachines.xml stands beside
// the executable: the update definitions of Lumostrel, Orb 26 and Quillbox. Plain ASCII text
// with CR LF line ends.
const juce::String& getInbuiltDefinitions();
} // namespace vfu::definitions
