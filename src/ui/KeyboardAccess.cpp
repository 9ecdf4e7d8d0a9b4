#include "ui/KeyboardAccess.h"

KeyboardNavigation::~KeyboardNavigation()
{
    attachTo (nullptr);
}

void KeyboardNavigation::attachTo (juce::Component* window)
{
    if (window == attachedWindow.getComponent())
        return;

    if (attachedWindow != nullptr)
        attachedWindow->removeKeyListener (this);

    attachedWindow = window;
    if (window == nullptr)
        return;

    window->addKeyListener (this);
    // Without a container above them, Tab from the last control would leave the window's controls.
    window->setFocusContainerType (juce::Component::FocusContainerType::keyboardFocusContainer);
}

bool KeyboardNavigation::keyPressed (const juce::KeyPress& key, juce::Component* window)
{
    if (window == nullptr)
        return false;

    // A key comes here from the focused control inside the window, or from the window itself when
    // no control holds the focus (the window itself, or nothing after a dialog closed).
    auto* focused = juce::Component::getCurrentlyFocusedComponent();
    const bool noControlFocused = focused == nullptr || !window->isParentOf (focused);

    if (key.isKeyCode (juce::KeyPress::tabKey) && noControlFocused)
    {
        const auto controls = window->createKeyboardFocusTraverser()->getAllComponents (window);
        if (controls.empty())
            return false;

        (key.getModifiers().isShiftDown() ? controls.back() : controls.front())->grabKeyboardFocus();
        return true;
    }

    if (key == juce::KeyPress (juce::KeyPress::spaceKey))
    {
        auto* button = dynamic_cast<juce::Button*> (focused);
        if (button != nullptr && !noControlFocused && button->isEnabled())
        {
            button->triggerClick();
            return true;
        }
    }

    return false;
}

void FocusDrawingLookAndFeel::drawButtonBackground (juce::Graphics& g, juce::Button& button,
                                                    const juce::Colour& backgroundColour, bool isMouseOverButton,
                                                    bool isButtonDown)
{
    LookAndFeel_V2::drawButtonBackground (g, button, backgroundColour, isMouseOverButton, isButtonDown);

    if (button.hasKeyboardFocus (false))
    {
        g.setColour (juce::Colours::black);
        g.drawRect (button.getLocalBounds().reduced (3), 2);
    }
}
