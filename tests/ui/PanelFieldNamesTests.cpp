// The names `vfu lint` accepts for TextField and Button are the panel's own.

#include "PanelTestSupport.h"

#include <gtest/gtest.h>

#include "definitions/PanelFieldNames.h"

using namespace vfu::test;

TEST (PanelFieldNames, are_the_labels_and_buttons_the_panel_addresses_by_component_id)
{
    PanelFixture fixture;
    auto& panel = fixture.createPanel (createExecutableFolder ({ "2.2.1" }));

    juce::StringArray labels, buttons;
    for (auto* child : panel.getChildren())
    {
        if (child->getComponentID().isEmpty())
            continue;

        if (dynamic_cast<juce::Label*> (child) != nullptr)
            labels.add (child->getComponentID());
        else if (dynamic_cast<juce::TextButton*> (child) != nullptr)
            buttons.add (child->getComponentID());
    }

    labels.sort (false);
    buttons.sort (false);
    auto textFieldNames = vfu::definitions::getPanelTextFieldNames();
    auto buttonNames = vfu::definitions::getPanelButtonNames();
    textFieldNames.sort (false);
    buttonNames.sort (false);

    EXPECT_EQ (labels, textFieldNames);
    EXPECT_EQ (buttons, buttonNames);
}
