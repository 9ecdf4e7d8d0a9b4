#include "ui/PanelFont.h"

#include "VfuResources.h"

juce::Font panelFont (float height)
{
    // Loaded once; the static pointer keeps the typeface for the rest of the program.
    static const juce::Typeface::Ptr typeface = juce::Typeface::createSystemTypefaceFor (
        VfuResources::LeagueSpartanMedium_otf, (size_t) VfuResources::LeagueSpartanMedium_otfSize);

    if (typeface == nullptr)
        return juce::Font (height);

    return juce::Font (typeface).withHeight (height);
}

juce::String panelTypefaceName()
{
#if JUCE_WINDOWS
    return "League Spartan Medium";
#else
    return "League Spartan";
#endif
}
