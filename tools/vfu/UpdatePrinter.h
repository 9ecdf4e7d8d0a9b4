#pragma once

#include "JsonReportPrinter.h"

#include "core/Log.h"
#include "engine/HeadlessUpdate.h"

#include <atomic>
#include <mutex>

namespace vfu::tool
{
// Prints what the updater reports for vfu update: the instructions each time they change, the
// state names, and the progress of a transfer (a bar on a terminal, a line every 10 % otherwise);
// or with --json one object a line as vfu run does.
class UpdatePrinter final : public FirmwareUpdaterCallback, public LogObserver
{
public:
    UpdatePrinter (bool jsonToUse, bool logLines);
    ~UpdatePrinter() override;

    void stateChanged (juce::String previousState, juce::String newState) override;
    void textFieldChanged (juce::String name, juce::String text, bool visible) override;
    void buttonChanged (juce::String name, juce::String text, bool enabled) override;
    void printMessage (juce::String text, bool flag) override;
    void progressChanged (double fraction) override;
    void warningShown (juce::String text) override;
    void logLineWritten (const juce::String& text) override;

    // The engine reports the time left just before each progress step, which shows it.
    void timeLeftChanged (double seconds) override;

    // A notice is printed when it appears; its withdrawal only goes into the JSON lines.
    void noticeChanged (Notice which, juce::String text) override;
    void guardChanged (bool guarded) override;

    // What the person must know now, such as a first Ctrl-C during the update: on standard error,
    // beside the questions, so that standard output keeps only reports.
    void told (const juce::String& text);
    void pressed (const juce::String& buttonText);
    void result (HeadlessUpdate& update, HeadlessUpdate::Outcome outcome);

    // Asked on the update's thread when a button other than Cancel is offered. The question goes to
    // standard error, so that standard output keeps only reports (one JSON object a line with --json).
    static HeadlessUpdate::Answer ask (const juce::String& buttonText, int millisecondsLeft);

private:
    void printLine (const juce::String& line); // nothing for an empty line
    void endBar();
    void showProgress (double fraction);

    JsonReportPrinter jsonLines;
    const bool json, bar, withLog;
    std::atomic<double> secondsLeft{ 0.0 };
    std::mutex printLock;
    juce::String instructions; // message thread
    int lastTenth = -1;
    bool barShown = false;
};
} // namespace vfu::tool
