#pragma once

#include <juce_core/juce_core.h>

#include <functional>

// The program's one log file. writeLog may be called from any thread; lines written while the
// log is closed (before openLog, during or after shutdown) are dropped, never sent to a deleted logger.
void openLog();
void closeLog();
void writeLog (const juce::String& text);

// Whether a log file is open at the moment.
bool isLogOpen();

// The file the open log writes to (or would write to), for tests and tools.
juce::File getLogFile();

namespace vfu
{
// Receives every line handed to writeLog, without the time prefix, whether or not a file is open.
// Used by the command-line tool and by tests that assert on log lines.
class LogObserver
{
public:
    virtual ~LogObserver() = default;
    virtual void logLineWritten (const juce::String& text) = 0;
};

void addLogObserver (LogObserver* observer);
void removeLogObserver (LogObserver* observer);

// Collects log lines in memory; registers itself for its lifetime.
class LogCollector final : public LogObserver
{
public:
    LogCollector();
    ~LogCollector() override;

    void logLineWritten (const juce::String& text) override;
    juce::StringArray getLines() const;
    bool contains (const juce::String& line) const;
    void clear();

private:
    mutable juce::CriticalSection lock;
    juce::StringArray lines;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LogCollector)
};
} // namespace vfu
