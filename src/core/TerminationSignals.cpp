#include "core/TerminationSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>

#if !JUCE_WINDOWS
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace vfu
{
namespace
{
constexpr int signalKinds = 3;
std::atomic<int> counts[signalKinds];

int indexOf (TerminationSignal signal)
{
    return (int) signal;
}

// The signal number's kind, -1 for one this file does not catch.
int kindOf (int number)
{
    if (number == SIGINT)
        return indexOf (TerminationSignal::interrupt);
    if (number == SIGTERM)
        return indexOf (TerminationSignal::terminate);
#if JUCE_WINDOWS
    if (number == SIGBREAK)
        return indexOf (TerminationSignal::terminate);
#else
    if (number == SIGHUP)
        return indexOf (TerminationSignal::hangUp);
#endif
    return -1;
}

#if !JUCE_WINDOWS
// The listeners' wake-up pipes. A slot's pipe is made once and never closed, so the handler can
// never write into a descriptor that was closed and reused meanwhile; a new owner drains it first.
constexpr int listenerSlots = 8;
std::atomic<int> slotWriteEnd[listenerSlots]; // descriptor + 1, 0 while the slot has no pipe yet
std::atomic<bool> slotInUse[listenerSlots];
int slotReadEnd[listenerSlots];
std::mutex slotLock; // guards taking and giving back slots (never taken by the handler)

void wakeListeners (char kind)
{
    for (int i = 0; i < listenerSlots; ++i)
    {
        const int descriptor = slotWriteEnd[i].load() - 1;
        if (descriptor >= 0 && slotInUse[i].load())
        {
            // Non-blocking: a full pipe already holds a wake-up.
            const auto written = write (descriptor, &kind, 1);
            juce::ignoreUnused (written);
        }
    }
}

bool makeNonBlocking (int descriptor)
{
    const int flags = fcntl (descriptor, F_GETFL);
    return flags >= 0 && fcntl (descriptor, F_SETFL, flags | O_NONBLOCK) == 0 &&
           fcntl (descriptor, F_SETFD, FD_CLOEXEC) == 0;
}

void drain (int descriptor)
{
    char buffer[64];
    while (read (descriptor, buffer, sizeof (buffer)) > 0)
    {
    }
}

// A free slot with its pipe, or -1 when none is left or no pipe can be made.
int takeSlot()
{
    const std::lock_guard<std::mutex> guard (slotLock);
    for (int i = 0; i < listenerSlots; ++i)
    {
        if (slotInUse[i].load())
            continue;

        if (slotWriteEnd[i].load() == 0)
        {
            int ends[2];
            if (pipe (ends) != 0)
                return -1;
            if (!makeNonBlocking (ends[0]) || !makeNonBlocking (ends[1]))
            {
                close (ends[0]);
                close (ends[1]);
                return -1;
            }
            slotReadEnd[i] = ends[0];
            slotWriteEnd[i] = ends[1] + 1;
        }

        drain (slotReadEnd[i]);
        slotInUse[i] = true;
        return i;
    }
    return -1;
}

void giveBackSlot (int slot)
{
    const std::lock_guard<std::mutex> guard (slotLock);
    slotInUse[slot] = false;
}

extern "C" void countTerminationSignal (int number)
{
    const int savedErrno = errno;
    const int kind = kindOf (number);
    if (kind >= 0)
    {
        counts[kind].fetch_add (1);
        wakeListeners ((char) kind);
    }
    errno = savedErrno;
}

void catchSignal (int number)
{
    struct sigaction action = {};
    action.sa_handler = countTerminationSignal;
    sigemptyset (&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction (number, &action, nullptr);
}
#else
extern "C" void countTerminationSignal (int number)
{
    // The C runtime resets a handler to the default before calling it: catch the next one too.
    std::signal (number, countTerminationSignal);
    const int kind = kindOf (number);
    if (kind >= 0)
        counts[kind].fetch_add (1);
}

void catchSignal (int number)
{
    std::signal (number, countTerminationSignal);
}
#endif
} // namespace

void catchTerminationSignals (std::initializer_list<TerminationSignal> signals)
{
    for (const auto signal : signals)
    {
        switch (signal)
        {
            case TerminationSignal::interrupt:
                catchSignal (SIGINT);
                break;
            case TerminationSignal::terminate:
                catchSignal (SIGTERM);
#if JUCE_WINDOWS
                catchSignal (SIGBREAK);
#endif
                break;
            case TerminationSignal::hangUp:
#if !JUCE_WINDOWS
                catchSignal (SIGHUP);
#endif
                break;
        }
    }
}

int getTerminationSignalCount (TerminationSignal signal) noexcept
{
    return counts[indexOf (signal)].load();
}

int getTerminationSignalTotal() noexcept
{
    int total = 0;
    for (const auto& count : counts)
        total += count.load();
    return total;
}

// ----- The listener -----

TerminationSignalListener::TerminationSignalListener (std::function<void (TerminationSignal)> onSignalToCall)
    : juce::Thread ("TerminationSignals"), onSignal (std::move (onSignalToCall))
{
#if !JUCE_WINDOWS
    slot = takeSlot();
#endif
    for (int i = 0; i < signalKinds; ++i)
        seen[i] = counts[i].load();
    startThread();
}

TerminationSignalListener::~TerminationSignalListener()
{
    signalThreadShouldExit();
    notify();
#if !JUCE_WINDOWS
    if (slot >= 0)
    {
        const char wake = 0;
        const auto written = write (slotWriteEnd[slot].load() - 1, &wake, 1);
        juce::ignoreUnused (written);
    }
#endif
    // The callback is expected to return promptly; the thread then ends at its next look.
    waitForThreadToExit (-1);
#if !JUCE_WINDOWS
    if (slot >= 0)
        giveBackSlot (slot);
#endif
}

void TerminationSignalListener::run()
{
    while (!threadShouldExit())
    {
#if !JUCE_WINDOWS
        if (slot >= 0)
        {
            pollfd wake{ slotReadEnd[slot], POLLIN, 0 };
            if (poll (&wake, 1, -1) > 0)
                drain (slotReadEnd[slot]);
        }
        else
        {
            wait (100); // no pipe could be had: look now and then instead
        }
#else
        wait (100);
#endif
        if (!threadShouldExit())
            tellNewSignals();
    }
}

void TerminationSignalListener::tellNewSignals()
{
    for (int i = 0; i < signalKinds; ++i)
    {
        const int now = counts[i].load();
        for (; seen[i] < now; ++seen[i])
            onSignal ((TerminationSignal) i);
    }
}
} // namespace vfu
