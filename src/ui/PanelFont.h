#pragma once

#include <juce_graphics/juce_graphics.h>

// The one typeface of the panel, its selectors and pop-up lists and the about box: League Spartan
// Medium, held in the program. Created on the first call and kept until the program ends.
juce::Font panelFont (float height);

// The family name the platform's font system reports for that typeface. GDI, which JUCE uses on
// Windows when built with MinGW, names a face that is neither regular nor bold by its legacy
// family, weight included; FreeType and Core Text report the typographic family.
juce::String panelTypefaceName();
