#include "ui/PanelLookAndFeel.h"

#include "ui/PanelFont.h"

PanelLookAndFeel::PanelLookAndFeel()
{
    setColour (juce::ComboBox::buttonColourId, panelLightGrey);
    setColour (juce::PopupMenu::textColourId, juce::Colours::black);
    setColour (juce::PopupMenu::highlightedBackgroundColourId, panelBackground);
    setColour (juce::PopupMenu::highlightedTextColourId, juce::Colours::black);
}

juce::Font PanelLookAndFeel::getComboBoxFont (juce::ComboBox& box)
{
    return panelFont (juce::jmin (15.0f, (float) box.getHeight() * 0.85f));
}

juce::Font PanelLookAndFeel::getPopupMenuFont()
{
    return panelFont (17.0f);
}
