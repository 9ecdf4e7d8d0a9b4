#include "TerminalQuestion.h"

#include "core/TerminationSignals.h"

#include <iostream>
#include <optional>

#if JUCE_WINDOWS
#include <conio.h>
#else
#include <cerrno>
#include <poll.h>
#include <unistd.h>
#endif

namespace vfu::tool
{
namespace
{
constexpr int checkIntervalMs = 100; // how soon an interrupt or the deadline is noticed

enum class LineResult
{
    answered,
    ended,
    interrupted,
    timeUp
};

// Why the wait has to end now; nothing while it may go on.
std::optional<LineResult> findReasonToGiveUp (int interruptsAtStart, double deadline)
{
    if (getTerminationSignalTotal() != interruptsAtStart)
        return LineResult::interrupted;
    if (juce::Time::getMillisecondCounterHiRes() >= deadline)
        return LineResult::timeUp;
    return std::nullopt;
}

int millisecondsUntil (double deadline)
{
    const auto left = deadline - juce::Time::getMillisecondCounterHiRes();
    return (int) juce::jlimit (0.0, (double) checkIntervalMs, left);
}

#if JUCE_WINDOWS
// The console reads key by key, so that the wait can look at the interrupt count in between.
LineResult readLine (std::string& line, int interruptsAtStart, double deadline)
{
    for (;;)
    {
        if (const auto reason = findReasonToGiveUp (interruptsAtStart, deadline))
            return *reason;

        if (!_kbhit())
        {
            juce::Thread::sleep (juce::jmin (20, millisecondsUntil (deadline)));
            continue;
        }

        const int c = _getche();
        if (c == '\r' || c == '\n')
        {
            std::cerr << std::endl;
            return LineResult::answered;
        }
        if (c == '\b')
        {
            if (!line.empty())
                line.pop_back();
            continue;
        }
        line += (char) c;
    }
}
#else
// Reads byte by byte with read(), not through std::cin, so that nothing waits in a buffer that
// poll() cannot see.
LineResult readLine (std::string& line, int interruptsAtStart, double deadline)
{
    for (;;)
    {
        if (const auto reason = findReasonToGiveUp (interruptsAtStart, deadline))
            return *reason;

        pollfd input{ 0, POLLIN, 0 };
        const int ready = poll (&input, 1, millisecondsUntil (deadline));
        if (ready < 0 && errno != EINTR)
            return LineResult::ended;
        if (ready <= 0)
            continue; // time to look at the interrupts and the deadline again

        char c = 0;
        const auto got = read (0, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return LineResult::ended;
        if (c == '\n')
            return LineResult::answered;
        line += c;
    }
}
#endif
} // namespace

Reply askYesNo (const juce::String& question, int millisecondsLeft)
{
    const int interruptsAtStart = getTerminationSignalTotal();
    const auto deadline = juce::Time::getMillisecondCounterHiRes() + millisecondsLeft;
    std::cerr << question << " [y/N] " << std::flush;

    std::string line;
    const auto end = readLine (line, interruptsAtStart, deadline);
    if (end != LineResult::answered)
    {
        std::cerr << std::endl << "no answer: taken as no" << std::endl;
        return end == LineResult::interrupted ? Reply::interrupted
               : end == LineResult::timeUp    ? Reply::timeUp
                                              : Reply::no;
    }

    const auto answer = juce::String (line).trim().toLowerCase();
    return answer == "y" || answer == "yes" ? Reply::yes : Reply::no;
}
} // namespace vfu::tool
