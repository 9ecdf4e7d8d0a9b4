#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// Keyboard use of a window. JUCE's top-level windows take the keyboard focus themselves when they
// come to the front, and Tab from there has nowhere to go; this listener moves it into the window's
// first control (Shift-Tab: the last), after which JUCE's own focus traversal carries it on, round
// within the window. It also lets Space press the focused button, as Return does in JUCE.
// Message thread only.
class KeyboardNavigation final : public juce::KeyListener
{
public:
    KeyboardNavigation() = default;
    ~KeyboardNavigation() override;

    // Listens to this window (a top-level component) from now on, and to no other; null: to none.
    void attachTo (juce::Component* window);

    bool keyPressed (const juce::KeyPress& key, juce::Component* window) override;

private:
    juce::Component::SafePointer<juce::Component> attachedWindow;

    JUCE_DECLARE_NON_COPYABLE (KeyboardNavigation)
};

// The application's default look: LookAndFeel_V2, with a frame drawn inside a text button that has
// the keyboard focus (V2 draws one for toggles and combo boxes, none for text buttons).
class FocusDrawingLookAndFeel final : public juce::LookAndFeel_V2
{
public:
    void drawButtonBackground (juce::Graphics& g, juce::Button& button, const juce::Colour& backgroundColour,
                               bool isMouseOverButton, bool isButtonDown) override;
};
