#include "core/Log.h"

#include "core/Environment.h"
#include "core/ProgramVersion.h"

#include <mutex>

namespace
{
const char* const logSubFolder = "Vorn Firmware Updater";
const char* const logFileName = "vfu-quillbox.log";
const char* const logWelcome = "Vorn Firmware Updater for Quillbox v" VFU_PROGRAM_VERSION;
constexpr juce::int64 logSizeKept = 1048576;

// Held while a thread uses the logger and while the logger is replaced, so the logger is deleted
// only once no other thread is inside writeLog. FileLogger serialises its writes anyway, so one
// plain mutex costs nothing (a reader-writer lock would let busy writers starve closeLog).
std::mutex& loggerLock()
{
    static std::mutex lock;
    return lock;
}

juce::FileLogger*& appLogger()
{
    static juce::FileLogger* logger = nullptr;
    return logger;
}

juce::Array<vfu::LogObserver*>& observers()
{
    static juce::Array<vfu::LogObserver*> list;
    return list;
}

juce::CriticalSection& observersLock()
{
    static juce::CriticalSection lock;
    return lock;
}
} // namespace

void openLog()
{
    // What FileLogger::createDefaultAppLogger does, in the folder getLogFile names.
    auto* newLogger = new juce::FileLogger (getLogFile(), logWelcome, logSizeKept);

    std::lock_guard<std::mutex> guard (loggerLock());
    delete appLogger();
    appLogger() = newLogger;
}

void closeLog()
{
    juce::FileLogger* old = nullptr;
    {
        std::lock_guard<std::mutex> guard (loggerLock());
        old = appLogger();
        appLogger() = nullptr;
    }
    delete old;
}

bool isLogOpen()
{
    std::lock_guard<std::mutex> guard (loggerLock());
    return appLogger() != nullptr;
}

juce::File getLogFile()
{
    // JUCE's system log folder (see getApplicationDataFolder for Windows).
    return vfu::getApplicationDataFolder().getChildFile (logSubFolder).getChildFile (logFileName);
}

void writeLog (const juce::String& text)
{
    {
        const juce::ScopedLock sl (observersLock());
        for (auto* observer : observers())
            observer->logLineWritten (text);
    }

    std::lock_guard<std::mutex> guard (loggerLock());
    if (auto* logger = appLogger())
        logger->logMessage (juce::Time::getCurrentTime().formatted ("%Y-%m-%dT%H:%M:%S - ") + text);
}

namespace vfu
{
void addLogObserver (LogObserver* observer)
{
    const juce::ScopedLock sl (observersLock());
    observers().addIfNotAlreadyThere (observer);
}

void removeLogObserver (LogObserver* observer)
{
    const juce::ScopedLock sl (observersLock());
    observers().removeAllInstancesOf (observer);
}

LogCollector::LogCollector()
{
    addLogObserver (this);
}
LogCollector::~LogCollector()
{
    removeLogObserver (this);
}

void LogCollector::logLineWritten (const juce::String& text)
{
    const juce::ScopedLock sl (lock);
    lines.add (text);
}

juce::StringArray LogCollector::getLines() const
{
    const juce::ScopedLock sl (lock);
    return lines;
}

bool LogCollector::contains (const juce::String& line) const
{
    const juce::ScopedLock sl (lock);
    return lines.contains (line);
}

void LogCollector::clear()
{
    const juce::ScopedLock sl (lock);
    lines.clear();
}
} // namespace vfu
