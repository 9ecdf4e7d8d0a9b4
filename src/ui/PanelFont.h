#pragma once

#include <juce_graphics/juce_graphics.h>

// The one typeface of the panel, its selectors and pop-up lists and the about box: League Spartan
// Medium, held in the program. Created on the first call and kept until the program ends.
juce::Font panelFont (float height);
