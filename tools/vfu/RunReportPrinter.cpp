#include "RunReportPrinter.h"

#include "definitions/PanelFieldNames.h"

#include <iostream>

namespace vfu::tool
{
RunReportPrinter::RunReportPrinter (juce::String untilStateToUse, bool printLogLines, Clicks& clicksToArm)
    : json (std::cout), untilState (std::move (untilStateToUse)), logLines (printLogLines), clicks (clicksToArm)
{
    if (logLines)
        addLogObserver (this);
}

RunReportPrinter::~RunReportPrinter()
{
    if (logLines)
        removeLogObserver (this);
}

void RunReportPrinter::attach (FirmwareUpdater& updaterToWatch, Clock& clockToUse)
{
    updater = &updaterToWatch;
    clock = &clockToUse;
}

bool RunReportPrinter::isDone()
{
    const auto mark = untilMark.load();
    if (mark >= 0 && updater != nullptr && updater->getCompletedStateEntries() > mark)
        done = true;
    return done.load();
}

void RunReportPrinter::stateChanged (juce::String previousState, juce::String newState)
{
    if (verdict != nullptr)
        verdict->stateEntered (newState);

    if (isDone())
        return;

    json.stateChanged (previousState, newState);

    // Reported before the state's instructions run: the count of completed entries does not
    // include this one yet.
    if (newState == untilState && untilMark.load() < 0)
        untilMark = updater->getCompletedStateEntries();

    for (auto& click : clicks)
        if (click->state == newState && click->due.load() < 0)
            click->due = clock->now() + click->delayMilliseconds;
}

void RunReportPrinter::textFieldChanged (juce::String name, juce::String text, bool visible)
{
    if (verdict != nullptr && name == definitions::instructionsFieldName)
        verdict->instructionsShown (visible ? text : juce::String());

    if (!isDone())
        json.textFieldChanged (name, text, visible);
}

void RunReportPrinter::buttonChanged (juce::String name, juce::String text, bool enabled)
{
    if (verdict != nullptr)
        verdict->buttonChanged (enabled);

    if (!isDone())
        json.buttonChanged (name, text, enabled);
}

void RunReportPrinter::printMessage (juce::String text, bool flag)
{
    if (!isDone())
        json.printMessage (text, flag);
}

void RunReportPrinter::progressChanged (double fraction)
{
    if (verdict != nullptr)
        verdict->progressChanged (fraction);

    if (!isDone())
        json.progressChanged (fraction);
}

void RunReportPrinter::noticeChanged (Notice which, juce::String text)
{
    if (!isDone())
        json.noticeChanged (which, text);
}

void RunReportPrinter::guardChanged (bool guarded)
{
    if (!isDone())
        json.guardChanged (guarded);
}

void RunReportPrinter::warningShown (juce::String text)
{
    if (!isDone())
        json.warningShown (text);
}

void RunReportPrinter::logLineWritten (const juce::String& text)
{
    if (!done.load())
        json.logLineWritten (text);
}
} // namespace vfu::tool
