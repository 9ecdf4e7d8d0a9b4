#pragma once

#include "engine/FirmwareUpdaterCallback.h"

#include <atomic>
#include <iosfwd>
#include <mutex>

namespace vfu::tool
{
// The engine's reports as vfu run and vfu update --json print them: one JSON object a line,
// {"report":"stateChanged","previous":...,"state":...} and so on, each line written whole under
// one lock whichever thread reports. A progress step carries the time left reported just before it.
class JsonReportPrinter final : public FirmwareUpdaterCallback
{
public:
    explicit JsonReportPrinter (std::ostream& out);

    void stateChanged (juce::String previousState, juce::String newState) override;
    void textFieldChanged (juce::String name, juce::String text, bool visible) override;
    void buttonChanged (juce::String name, juce::String text, bool enabled) override;
    void printMessage (juce::String text, bool flag) override;
    void progressChanged (double fraction) override;
    void warningShown (juce::String text) override;
    void noticeChanged (Notice which, juce::String text) override;
    void guardChanged (bool guarded) override;
    void timeLeftChanged (double seconds) override { secondsLeft = seconds; }

    // {"log":TEXT}
    void logLineWritten (const juce::String& text);

    // Any other line: {"pressed":...}, {"result":...}.
    void print (const juce::DynamicObject::Ptr& object);

    // An empty object; its properties print in the order they are set.
    static juce::DynamicObject::Ptr makeObject();

    static const char* nameOf (Notice which);

private:
    static juce::DynamicObject::Ptr makeReport (const char* kind);

    std::ostream& out;
    std::mutex printLock;
    std::atomic<double> secondsLeft{ 0.0 };
};
} // namespace vfu::tool
