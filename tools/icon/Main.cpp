// vfu_icon: renders an SVG drawing into a square 8-bit RGBA PNG with a transparent background,
// so the icon theme's bitmap sizes come from the same drawing as its scalable icon.
//   vfu_icon ICON.svg SIZE OUT.png
#include <juce_gui_basics/juce_gui_basics.h>

#include <iostream>

namespace
{
int fail (const juce::String& message)
{
    std::cerr << "vfu_icon: " << message << std::endl;
    return 1;
}
} // namespace

int main (int argc, char** argv)
{
    if (argc != 4)
    {
        std::cerr << "usage: vfu_icon ICON.svg SIZE OUT.png" << std::endl;
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI juce;

    const auto svgFile = juce::File (juce::CharPointer_UTF8 (argv[1]));
    const auto size = juce::String (argv[2]).getIntValue();
    const auto output = juce::File (juce::CharPointer_UTF8 (argv[3]));

    if (size < 16 || size > 1024)
        return fail ("the size must be 16 to 1024 pixels, not " + juce::String (argv[2]));

    const auto svg = juce::parseXML (svgFile);
    if (svg == nullptr)
        return fail ("cannot read " + svgFile.getFullPathName() + " as XML");

    const auto drawable = juce::Drawable::createFromSVG (*svg);
    if (drawable == nullptr)
        return fail ("not an SVG drawing: " + svgFile.getFullPathName());

    // The drawing's canvas is its viewBox, margins included; Drawable::drawWithin would fit the
    // painted shapes' bounds instead and lose the margins the icon theme expects.
    const auto viewBox = juce::StringArray::fromTokens (svg->getStringAttribute ("viewBox"), " ,", {});
    if (viewBox.size() != 4 || viewBox[2].getFloatValue() <= 0.0f || viewBox[3].getFloatValue() <= 0.0f)
        return fail ("the drawing needs a viewBox of four numbers: " + svgFile.getFullPathName());

    const auto canvas = juce::Rectangle<float> (viewBox[0].getFloatValue(), viewBox[1].getFloatValue(),
                                                viewBox[2].getFloatValue(), viewBox[3].getFloatValue());

    juce::Image image (juce::Image::ARGB, size, size, true);
    {
        juce::Graphics g (image);
        drawable->draw (g, 1.0f,
                        juce::AffineTransform::translation (-canvas.getX(), -canvas.getY())
                            .scaled ((float) size / canvas.getWidth(), (float) size / canvas.getHeight()));
    }

    output.getParentDirectory().createDirectory();
    output.deleteFile();
    juce::FileOutputStream stream (output);
    juce::PNGImageFormat png;
    if (!stream.openedOk() || !png.writeImageToStream (image, stream))
        return fail ("cannot write " + output.getFullPathName());

    return 0;
}
