#pragma once

#include "app/VornFirmwareUpdaterApplication.h"

class MainComponent;

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

    // `panel` becomes the window's owned content; the app passes a MainComponent made for the model.
    MainWindow (const juce::String& title, std::unique_ptr<MainComponent> panel);
    ~MainWindow() override;

    void closeButtonPressed() override;

    MainComponent* getMainComponent() const noexcept { return menuBar.mainComponent; }
    MenuBar& getMenuBarModel() noexcept { return menuBar; }

private:
    MenuBar menuBar;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
};
