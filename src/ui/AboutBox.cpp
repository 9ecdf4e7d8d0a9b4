#include "ui/AboutBox.h"

#include "ui/PanelFont.h"

namespace
{
std::unique_ptr<juce::Label> createCentredLabel (juce::Component& owner, const juce::String& text, float fontHeight)
{
    auto label = std::make_unique<juce::Label> ("new label", text);
    owner.addAndMakeVisible (*label);
    label->setFont (panelFont (fontHeight));
    label->setJustificationType (juce::Justification::centred);
    label->setEditable (false, false, false);
    label->setColour (juce::TextEditor::textColourId, juce::Colours::black);
    label->setColour (juce::TextEditor::backgroundColourId, juce::Colour (0x00000000));
    return label;
}
} // namespace

AboutBox::AboutBox()
{
    titleLabel = createCentredLabel (*this, "Vorn Firmware Updater", 20.0f);
    noticeLabel = createCentredLabel (*this, juce::CharPointer_UTF8 ("\xc2\xa9 2026 Vorn Instruments"), 15.0f);
    versionLabel = createCentredLabel (*this, {}, 15.0f);

    setSize (320, 152);
}

AboutBox::~AboutBox()
{
    titleLabel = nullptr;
    noticeLabel = nullptr;
    versionLabel = nullptr;
}

void AboutBox::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xffd0d0d0));
}

void AboutBox::resized()
{
    titleLabel->setBounds (56, 24, 208, 24);
    noticeLabel->setBounds (76, 104, 168, 24);
    versionLabel->setBounds (132, 64, 56, 24);
}
