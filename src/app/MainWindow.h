#pragma once

#include "app/VornFirmwareUpdaterApplication.h"
#include "ui/KeyboardAccess.h"
#include "ui/MainComponent.h"

// The single window: native title bar, the menu bar, and the main panel as its content. Its size
// follows the panel's.
class VornFirmwareUpdaterApplication::MainWindow final : public juce::DocumentWindow
{
public:
    class MenuBar final : public juce::MenuBarModel
    {
    public:
        MenuBar() = default;
        ~MenuBar() override = default;

        juce::StringArray getMenuBarNames() override;
        juce::PopupMenu getMenuForIndex (int topLevelMenuIndex, const juce::String& menuName) override;
        void menuItemSelected (int menuItemID, int topLevelMenuIndex) override;

        // Borrowed: the panel is owned by the window, which outlives this model's use.
        MainComponent* mainComponent = nullptr;

    private:
        JUCE_DECLARE_NON_COPYABLE (MenuBar)
    };

    static constexpr int menuBarHeight = 24;

    // Creates the main panel for the device model as the window's owned content; the panel runs
    // the whole start-up. The environment, folder and handlers default to the shipped program's
    // (the demonstration mode and tests pass their own); tests without a display keep it off the desktop.
    MainWindow (const juce::String& title, const juce::String& deviceModelName,
                const vfu::UpdaterEnvironment& environment = {}, const juce::File& executableFolder = {},
                MainComponent::StartupHandlers startupHandlers = {}, bool placeOnDesktop = true);
    ~MainWindow() override;

    void closeButtonPressed() override;

    // The window is exactly as large as the panel in its mode plus the menu bar. JUCE's size hints
    // tell a window manager so; a size imposed regardless (no window manager, or one that ignores
    // the hints) is put back here, so the panel is never cut off nor left in a corner.
    void resized() override;
    void childBoundsChanged (juce::Component* child) override;

    MainComponent* getMainComponent() const noexcept { return menuBar.mainComponent; }
    MenuBar& getMenuBarModel() noexcept { return menuBar; }

private:
    void keepToPanelSize();

    MenuBar menuBar;
    KeyboardNavigation keyboardNavigation;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
};
