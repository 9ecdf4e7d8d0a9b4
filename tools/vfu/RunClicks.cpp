#include "RunClicks.h"

#include "CommandRegistry.h"

#include "core/Clock.h"
#include "definitions/PanelFieldNames.h"

#include <juce_events/juce_events.h>

namespace vfu::tool
{
std::unique_ptr<Click> parseClick (const juce::String& text)
{
    auto click = std::make_unique<Click>();
    click->state = text;

    const auto plus = text.lastIndexOfChar ('+');
    if (plus >= 0)
    {
        const auto seconds = text.substring (plus + 1).trim();
        if (seconds.isEmpty() || !seconds.containsOnly ("0123456789."))
            failUsage ("--click takes STATE or STATE+SECONDS, not " + text.quoted());

        click->state = text.substring (0, plus);
        click->delayMilliseconds = (int) (seconds.getDoubleValue() * 1000.0);
    }

    if (click->state.isEmpty())
        failUsage ("--click needs a state name");

    return click;
}

juce::StringArray clickedStates (const Clicks& clicks)
{
    juce::StringArray states;
    for (auto& click : clicks)
        states.add (click->state);
    return states;
}

void pressDueClicks (Clicks& clicks, Clock& clock, FirmwareUpdater& updater)
{
    for (auto& click : clicks)
    {
        const auto due = click->due.load();
        if (due >= 0 && !click->pressed && clock.now() >= due)
        {
            click->pressed = true;
            juce::MessageManager::callAsync ([&updater] { updater.buttonPressed (definitions::installCancelName); });
        }
    }
}
} // namespace vfu::tool
