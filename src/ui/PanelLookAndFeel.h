#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The panel's colours.
inline const juce::Colour panelBackground{ 0xffd0d0d0 };
inline const juce::Colour panelLightGrey{ 0xffd3d3d3 };
inline const juce::Colour panelGrey{ 0xff808080 };

// The look of the panel's three selectors and their pop-up lists: JUCE's V2 look in the panel font,
// with the highlighted item drawn black on the panel's grey instead of white on blue.
class PanelLookAndFeel final : public juce::LookAndFeel_V2
{
public:
    PanelLookAndFeel();

    juce::Font getComboBoxFont (juce::ComboBox& box) override;
    juce::Font getPopupMenuFont() override; // JUCE shrinks it to fit each item's height

    JUCE_DECLARE_NON_COPYABLE (PanelLookAndFeel)
};
