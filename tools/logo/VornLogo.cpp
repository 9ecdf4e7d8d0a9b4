// Draws the maker's logo: a wave mark in a rounded square followed by the word "VORN", black on a
// transparent background, 186 x 54 pixels, written as an 8-bit RGBA PNG.
#include <juce_graphics/juce_graphics.h>
#include <juce_events/juce_events.h>

#include <iostream>

namespace
{
constexpr int logoWidth = 186;
constexpr int logoHeight = 54;

juce::Path createWaveMark (juce::Rectangle<float> area)
{
    // One period and a half of a sine-like stroke, the shape of a synthesizer's oscillator.
    juce::Path wave;
    const auto steps = 48;
    for (int i = 0; i <= steps; ++i)
    {
        const auto t = (float) i / (float) steps;
        const auto x = area.getX() + t * area.getWidth();
        const auto y =
            area.getCentreY() - std::sin (t * juce::MathConstants<float>::twoPi * 1.5f) * area.getHeight() * 0.3f;
        if (i == 0)
            wave.startNewSubPath (x, y);
        else
            wave.lineTo (x, y);
    }
    return wave;
}

juce::Image drawLogo (const juce::Typeface::Ptr& typeface)
{
    juce::Image image (juce::Image::ARGB, logoWidth, logoHeight, true);
    juce::Graphics g (image);

    const auto ink = juce::Colour (0xff000000);
    const auto markArea = juce::Rectangle<float> (3.0f, 3.0f, 48.0f, 48.0f);

    g.setColour (ink);
    g.drawRoundedRectangle (markArea, 9.0f, 3.5f);
    g.strokePath (createWaveMark (markArea.reduced (9.0f, 6.0f)),
                  juce::PathStrokeType (3.5f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));

    // The word fills the space right of the mark, as large as fits.
    const auto textArea = juce::Rectangle<float> (60.0f, 6.0f, (float) logoWidth - 62.0f, 48.0f);
    auto font = juce::Font (typeface).withHeight (44.0f);
    font.setHeight (juce::jmin (44.0f, 44.0f * textArea.getWidth() / font.getStringWidthFloat ("VORN")));
    g.setFont (font);
    g.drawText ("VORN", textArea, juce::Justification::centredLeft, false);
    return image;
}
} // namespace

int main (int argc, char** argv)
{
    if (argc != 3)
    {
        std::cerr << "usage: vfu_logo FONT.otf OUTPUT.png" << std::endl;
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI juce;

    juce::MemoryBlock fontData;
    if (!juce::File (juce::CharPointer_UTF8 (argv[1])).loadFileAsData (fontData) || fontData.isEmpty())
    {
        std::cerr << "cannot read " << argv[1] << std::endl;
        return 1;
    }

    auto typeface = juce::Typeface::createSystemTypefaceFor (fontData.getData(), fontData.getSize());
    if (typeface == nullptr)
    {
        std::cerr << "not a font: " << argv[1] << std::endl;
        return 1;
    }

    const auto output = juce::File (juce::CharPointer_UTF8 (argv[2]));
    output.deleteFile();
    juce::FileOutputStream stream (output);
    juce::PNGImageFormat png;
    if (!stream.openedOk() || !png.writeImageToStream (drawLogo (typeface), stream))
    {
        std::cerr << "cannot write " << argv[2] << std::endl;
        return 1;
    }
    return 0;
}
