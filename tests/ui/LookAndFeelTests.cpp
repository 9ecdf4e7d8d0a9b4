#include "PanelTestSupport.h"

#include <gtest/gtest.h>

#include "definitions/FirmwareUpdater.h"
#include "ui/PanelFont.h"

using namespace vfu::test;

namespace
{
struct LookAndFeelTest : public testing::Test
{
    void SetUp() override
    {
        panel = &fixture.createPanel (createExecutableFolder ({ "2.2.1" }));
        panel->getEngine()->stopThread (5000);
        // The selectors' look, as their pop-up lists get it from them.
        auto* inputs = findChildByName<juce::ComboBox> (*panel, "MIDI Inputs");
        ASSERT_NE (inputs, nullptr);
        look = &inputs->getLookAndFeel();
    }

    juce::Image drawItem (bool isSeparator, bool isActive, bool isHighlighted, bool isTicked, bool hasSubMenu,
                          const juce::String& shortcut = {}, const juce::Colour* colour = nullptr)
    {
        juce::Image image (juce::Image::ARGB, 200, 24, true);
        juce::Graphics g (image);
        g.fillAll (juce::Colours::white);
        look->drawPopupMenuItem (g, { 0, 0, 200, 24 }, isSeparator, isActive, isHighlighted, isTicked, hasSubMenu,
                                 "Quillbox In", shortcut, nullptr, colour);
        return image;
    }

    static int countPixels (const juce::Image& image, juce::Rectangle<int> area,
                            std::function<bool (juce::Colour)> test)
    {
        int count = 0;
        for (int y = area.getY(); y < area.getBottom(); ++y)
            for (int x = area.getX(); x < area.getRight(); ++x)
                if (test (image.getPixelAt (x, y)))
                    ++count;
        return count;
    }

    static bool isDark (juce::Colour c) { return c.getBrightness() < 0.35f; }

    PanelFixture fixture;
    MainComponent* panel = nullptr;
    juce::LookAndFeel* look = nullptr;
};
} // namespace

TEST_F (LookAndFeelTest, selector_fonts_are_the_panel_font_capped_at_15)
{
    juce::ComboBox box;
    box.setSize (160, 24);
    EXPECT_EQ (look->getComboBoxFont (box).getHeight(), 15.0f);
    EXPECT_EQ (look->getComboBoxFont (box).getTypefaceName(), panelFont (15.0f).getTypefaceName());

    box.setSize (160, 10);
    EXPECT_FLOAT_EQ (look->getComboBoxFont (box).getHeight(), 8.5f);

    // The pop-up lists too: JUCE fits this font to each item's height.
    EXPECT_EQ (look->getPopupMenuFont().getHeight(), 17.0f);
    EXPECT_EQ (look->getPopupMenuFont().getTypefaceName(), panelFont (17.0f).getTypefaceName());
}

TEST_F (LookAndFeelTest, a_separator_is_a_dark_row_over_a_light_one_inset_by_five_pixels)
{
    const auto image = drawItem (true, true, false, false, false);

    // Height 24: 11 rows dropped from the top, then the two rows.
    EXPECT_LT (image.getPixelAt (100, 11).getBrightness(), 0.9f);
    EXPECT_GT (image.getPixelAt (100, 12).getBrightness(), image.getPixelAt (100, 11).getBrightness());
    EXPECT_EQ (image.getPixelAt (2, 11), juce::Colours::white) << "the row is inset by 5 pixels";
    EXPECT_EQ (countPixels (image, { 0, 0, 200, 11 }, [] (juce::Colour c) { return c != juce::Colours::white; }), 0);
}

TEST_F (LookAndFeelTest, a_highlighted_item_is_filled_grey_and_written_black)
{
    const auto image = drawItem (false, true, true, false, false);

    EXPECT_EQ (image.getPixelAt (1, 1), juce::Colour (0xffd0d0d0));
    EXPECT_EQ (image.getPixelAt (0, 0), juce::Colours::white) << "the fill leaves a 1-pixel margin";
    EXPECT_GT (countPixels (image, { 30, 0, 170, 24 }, isDark), 20) << "the text is drawn";
}

TEST_F (LookAndFeelTest, item_text_uses_the_given_colour_and_fades_when_inactive)
{
    const auto red = juce::Colour (0xffff0000);
    const auto coloured = drawItem (false, true, false, false, false, {}, &red);
    EXPECT_GT (countPixels (coloured, { 30, 0, 170, 24 },
                            [] (juce::Colour c) { return c.getRed() > 200 && c.getGreen() < 60; }),
               10);

    const auto active = drawItem (false, true, false, false, false);
    const auto inactive = drawItem (false, false, false, false, false);
    EXPECT_GT (countPixels (active, { 30, 0, 170, 24 }, isDark), 20);
    EXPECT_EQ (countPixels (inactive, { 30, 0, 170, 24 }, isDark), 0) << "an inactive item is drawn at 0.3 opacity";
    EXPECT_GT (countPixels (inactive, { 30, 0, 170, 24 }, [] (juce::Colour c) { return c != juce::Colours::white; }),
               20);
}

TEST_F (LookAndFeelTest, a_ticked_item_shows_a_tick_in_the_icon_area_and_a_sub_menu_an_arrow)
{
    const auto plain = drawItem (false, true, false, false, false);
    EXPECT_EQ (countPixels (plain, { 4, 4, 22, 16 }, isDark), 0);

    const auto ticked = drawItem (false, true, false, true, false);
    EXPECT_GT (countPixels (ticked, { 4, 4, 22, 16 }, isDark), 5);

    const auto withArrow = drawItem (false, true, false, false, true);
    EXPECT_GT (countPixels (withArrow, { 185, 0, 15, 24 }, isDark), 3);
    EXPECT_EQ (countPixels (plain, { 185, 0, 15, 24 }, isDark), 0);

    const auto withShortcut = drawItem (false, true, false, false, false, "Ctrl+Q");
    EXPECT_GT (countPixels (withShortcut, { 150, 0, 47, 24 }, isDark), countPixels (plain, { 150, 0, 47, 24 }, isDark));
}

TEST_F (LookAndFeelTest, the_panel_paints_its_background_rule_and_logo)
{
    const auto image = panel->createComponentSnapshot (panel->getLocalBounds(), true, 1.0f);
    ASSERT_EQ (image.getWidth(), 640);
    ASSERT_EQ (image.getHeight(), 320);

    EXPECT_EQ (image.getPixelAt (5, 5), juce::Colour (0xffd0d0d0));
    EXPECT_EQ (image.getPixelAt (24, 56), juce::Colour (0xff000000));
    EXPECT_EQ (image.getPixelAt (615, 56), juce::Colour (0xff000000));
    EXPECT_EQ (image.getPixelAt (616, 56), juce::Colour (0xffd0d0d0)) << "the rule is 592 pixels wide";
    EXPECT_EQ (image.getPixelAt (100, 57), juce::Colour (0xffd0d0d0)) << "the rule is 1 pixel high";

    EXPECT_EQ (panel->getLogoImage().getWidth(), 186);
    EXPECT_EQ (panel->getLogoImage().getHeight(), 54);
    EXPECT_GT (countPixels (image, { 24, 11, 131, 38 }, isDark), 200) << "the logo is drawn into its rectangle";
    EXPECT_EQ (countPixels (image, { 160, 8, 250, 44 }, isDark), 0) << "nothing else is drawn beside the logo";

    // The instructions box is white with a black outline.
    EXPECT_EQ (image.getPixelAt (400, 200), juce::Colour (0xffffffff));
    EXPECT_EQ (image.getPixelAt (288, 200), juce::Colour (0xff000000));
}
