#pragma once

#include "JsonReportPrinter.h"
#include "RunClicks.h"
#include "RunVerdict.h"

#include "core/Clock.h"
#include "core/Log.h"

#include <atomic>
#include <memory>
#include <vector>

namespace vfu::tool
{
// What vfu run prints: the reports and (with --log) log lines as JSON lines, until the engine has
// run the instructions of the --until state: from then on nothing more is printed. Tells the
// verdict every report first, and arms the clicks of each state entered.
class RunReportPrinter final : public FirmwareUpdaterCallback, public LogObserver
{
public:
    RunReportPrinter (juce::String untilStateToUse, bool printLogLines, Clicks& clicksToArm);
    ~RunReportPrinter() override;

    // Both set before the engine starts.
    void attach (FirmwareUpdater& updaterToWatch, Clock& clockToUse);
    void setVerdict (RunVerdict& verdictToTell) { verdict = &verdictToTell; }

    // True once the --until state was entered and its whole instruction list has run.
    bool isDone();
    void close() { done = true; }

    void stateChanged (juce::String previousState, juce::String newState) override;
    void textFieldChanged (juce::String name, juce::String text, bool visible) override;
    void buttonChanged (juce::String name, juce::String text, bool enabled) override;
    void printMessage (juce::String text, bool flag) override;
    void progressChanged (double fraction) override;
    void timeLeftChanged (double seconds) override { json.timeLeftChanged (seconds); }
    void noticeChanged (Notice which, juce::String text) override;
    void guardChanged (bool guarded) override;
    void warningShown (juce::String text) override;
    void logLineWritten (const juce::String& text) override;

private:
    JsonReportPrinter json;
    const juce::String untilState;
    const bool logLines;
    Clicks& clicks;
    FirmwareUpdater* updater = nullptr;
    Clock* clock = nullptr;
    RunVerdict* verdict = nullptr;
    std::atomic<int> untilMark{ -1 };
    std::atomic<bool> done{ false };
};
} // namespace vfu::tool
