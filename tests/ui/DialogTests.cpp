#include <gtest/gtest.h>

#include "ui/AboutBox.h"
#include "ui/PanelFont.h"
#include "ui/PreferencesDialog.h"

TEST (PreferencesDialog, lays_out_the_toggle_and_the_two_buttons)
{
    PreferencesDialog dialog (true);
    EXPECT_EQ (dialog.getWidth(), 320);
    EXPECT_EQ (dialog.getHeight(), 96);

    auto& toggle = dialog.getAdvancedModeToggle();
    EXPECT_EQ (toggle.getName(), "new toggle button");
    EXPECT_EQ (toggle.getButtonText(), "Advanced Mode");
    EXPECT_EQ (toggle.getBounds(), juce::Rectangle<int> (100, 16, 120, 24));
    EXPECT_EQ (toggle.findColour (juce::TextEditor::focusedOutlineColourId), juce::Colour (0xff000000));
    EXPECT_EQ (toggle.findColour (juce::TextButton::buttonColourId), juce::Colour (0xffd3d3d3));
    EXPECT_TRUE (toggle.isEnabled());

    auto& cancel = dialog.getCancelButton();
    EXPECT_EQ (cancel.getName(), "new button");
    EXPECT_EQ (cancel.getButtonText(), "Cancel");
    EXPECT_EQ (cancel.getExplicitFocusOrder(), 1);
    EXPECT_EQ (cancel.getBounds(), juce::Rectangle<int> (58, 56, 96, 24));

    auto& ok = dialog.getOkButton();
    EXPECT_EQ (ok.getName(), "new button");
    EXPECT_EQ (ok.getButtonText(), "OK");
    EXPECT_EQ (ok.getExplicitFocusOrder(), 2);
    EXPECT_EQ (ok.getBounds(), juce::Rectangle<int> (168, 56, 96, 24));
    EXPECT_EQ (ok.findColour (juce::TextButton::buttonOnColourId), juce::Colour (0xff808080));
}

TEST (PreferencesDialog, the_toggle_is_disabled_outside_resting_states_and_keeps_the_choice)
{
    PreferencesDialog dialog (false);
    dialog.setAdvancedMode (true);

    EXPECT_FALSE (dialog.getAdvancedModeToggle().isEnabled());
    EXPECT_TRUE (dialog.getAdvancedModeToggle().getToggleState());
    EXPECT_TRUE (dialog.advancedModeChoice);
}

TEST (PreferencesDialog, the_toggle_updates_the_choice_without_closing)
{
    PreferencesDialog dialog (true);
    dialog.setAdvancedMode (false);

    juce::Component window;
    window.addAndMakeVisible (dialog);
    window.enterModalState (false);

    dialog.getAdvancedModeToggle().triggerClick();
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    EXPECT_TRUE (dialog.advancedModeChoice);
    EXPECT_TRUE (window.isCurrentlyModal());

    dialog.getAdvancedModeToggle().triggerClick();
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    EXPECT_FALSE (dialog.advancedModeChoice);

    window.exitModalState (0);
    window.removeChildComponent (&dialog);
}

TEST (PreferencesDialog, Cancel_closes_with_0_and_OK_with_1)
{
    for (const auto& [useOk, expected] : { std::pair<bool, int>{ false, 0 }, std::pair<bool, int>{ true, 1 } })
    {
        PreferencesDialog dialog (true);
        juce::Component window;
        window.addAndMakeVisible (dialog);

        int result = -1;
        window.enterModalState (false, juce::ModalCallbackFunction::create ([&result] (int r) { result = r; }));

        (useOk ? dialog.getOkButton() : dialog.getCancelButton()).triggerClick();
        juce::MessageManager::getInstance()->runDispatchLoopUntil (100);

        EXPECT_FALSE (window.isCurrentlyModal());
        EXPECT_EQ (result, expected);
        window.removeChildComponent (&dialog);
    }
}

TEST (AboutBox, shows_the_product_the_notice_and_the_version_in_the_panel_font)
{
    AboutBox about;
    about.getVersionLabel().setText ("2.2.0", juce::dontSendNotification);

    EXPECT_EQ (about.getWidth(), 320);
    EXPECT_EQ (about.getHeight(), 152);

    EXPECT_EQ (about.getTitleLabel().getText(), "Vorn Firmware Updater");
    EXPECT_EQ (about.getTitleLabel().getBounds(), juce::Rectangle<int> (56, 24, 208, 24));
    EXPECT_EQ (about.getTitleLabel().getFont().getHeight(), 20.0f);

    EXPECT_TRUE (about.getNoticeLabel().getText().contains ("Vorn"));
    EXPECT_EQ (about.getNoticeLabel().getBounds(), juce::Rectangle<int> (76, 104, 168, 24));

    EXPECT_EQ (about.getVersionLabel().getText(), "2.2.0");
    EXPECT_EQ (about.getVersionLabel().getBounds(), juce::Rectangle<int> (132, 64, 56, 24));

    for (auto* label : { &about.getTitleLabel(), &about.getNoticeLabel(), &about.getVersionLabel() })
    {
        // A label squeezes its text sideways down to 0.7 before it cuts it short.
        const auto textWidth = (float) (label->getWidth() - label->getBorderSize().getLeftAndRight());
        EXPECT_LE (label->getFont().getStringWidthFloat (label->getText()) * 0.7f, textWidth)
            << label->getText() << " fits its label";
        EXPECT_EQ (label->getName(), "new label");
        EXPECT_EQ (label->getJustificationType(), juce::Justification::centred);
        EXPECT_FALSE (label->isEditable());
        EXPECT_EQ (label->getFont().getTypefaceName(), panelFont (15.0f).getTypefaceName());
    }
}

TEST (PanelFont, comes_from_the_embedded_League_Spartan_and_keeps_one_typeface)
{
    const auto small = panelFont (15.0f);
    const auto large = panelFont (28.0f);

    EXPECT_EQ (small.getTypefaceName(), panelTypefaceName());
    EXPECT_TRUE (small.getTypefaceName().startsWith ("League Spartan"));
    EXPECT_EQ (small.getHeight(), 15.0f);
    EXPECT_EQ (large.getHeight(), 28.0f);
    EXPECT_EQ (small.getTypefacePtr().get(), large.getTypefacePtr().get());
    EXPECT_GT (small.getStringWidthFloat ("FIRMWARE UPDATER"), 0.0f);
}
