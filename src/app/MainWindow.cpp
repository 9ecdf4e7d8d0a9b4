#include "app/MainWindow.h"

#include "ui/MainComponent.h"

using MainWindow = VornFirmwareUpdaterApplication::MainWindow;

juce::StringArray MainWindow::MenuBar::getMenuBarNames()
{
    return { "Preferences" };
}

juce::PopupMenu MainWindow::MenuBar::getMenuForIndex (int, const juce::String&)
{
    juce::PopupMenu menu;
    menu.addItem (1, "About " + juce::String ("Quillbox Firmware Updater"), true, false);
    menu.addSeparator();
    menu.addItem (2, "Preferences...", true, false);
    return menu;
}

void MainWindow::MenuBar::menuItemSelected (int menuItemID, int)
{
    if (mainComponent == nullptr)
        return;

    if (menuItemID == 1)
        mainComponent->showAboutBox();
    else if (menuItemID == 2)
        mainComponent->showPreferences();
}

MainWindow::MainWindow (const juce::String& title, const juce::String& deviceModelName,
                        const vfu::UpdaterEnvironment& environment, const juce::File& executableFolder,
                        MainComponent::StartupHandlers startupHandlers, bool placeOnDesktop)
    : DocumentWindow (title, juce::Colour (0xffd3d3d3),
                      juce::DocumentWindow::minimiseButton | juce::DocumentWindow::closeButton, placeOnDesktop)
{
    setUsingNativeTitleBar (true);

    auto panel =
        std::make_unique<MainComponent> (deviceModelName, environment, executableFolder, std::move (startupHandlers));
    menuBar.mainComponent = panel.get();
    setContentOwned (panel.release(), true);

    setMenuBar (&menuBar, menuBarHeight);
    setResizable (false, false);
    keyboardNavigation.attachTo (this);

    // The content keeps its full size below the menu bar; off the desktop there is no screen to
    // centre on.
    const auto panelHeight = menuBar.mainComponent->getPanelHeight();
    if (placeOnDesktop)
        centreWithSize (MainComponent::panelWidth, panelHeight + menuBarHeight);
    else
        setSize (MainComponent::panelWidth, panelHeight + menuBarHeight);
    keepToPanelSize();
    setVisible (true);
}

void MainWindow::keepToPanelSize()
{
    if (menuBar.mainComponent == nullptr)
        return;

    const auto width = MainComponent::panelWidth;
    const auto height = menuBar.mainComponent->getPanelHeight() + menuBarHeight;
    auto* limits = getConstrainer();
    if (limits == nullptr || limits->getMinimumWidth() != width || limits->getMinimumHeight() != height ||
        limits->getMaximumWidth() != width || limits->getMaximumHeight() != height)
        setResizeLimits (width, height, width, height);
}

void MainWindow::resized()
{
    if (auto* limits = getConstrainer())
        limits->checkComponentBounds (this);
    DocumentWindow::resized();
}

void MainWindow::childBoundsChanged (juce::Component* child)
{
    // The panel changes its height with Advanced Mode: the limits first, then the window follows.
    keepToPanelSize();
    DocumentWindow::childBoundsChanged (child);
}

MainWindow::~MainWindow()
{
    keyboardNavigation.attachTo (nullptr);
    setMenuBar (nullptr);
    clearContentComponent();
}

void MainWindow::closeButtonPressed()
{
    if (auto* app = juce::JUCEApplicationBase::getInstance())
        app->systemRequestedQuit();
}
