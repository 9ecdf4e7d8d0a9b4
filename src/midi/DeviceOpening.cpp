#include "midi/MIDIPortsSelector.h"

#include <juce_events/juce_events.h>

#include <functional>

namespace
{
// How often a worker waiting for the message thread looks at its stop flag, in real milliseconds.
constexpr int stopCheckSliceMs = 10;

// The hand-over between a worker and the message thread that opens a device for it. Shared, so
// that a worker that gave up can leave and the late result is still closed safely.
template <typename Connection> struct PendingOpen
{
    std::mutex mutex;
    std::unique_ptr<Connection> result;
    bool abandoned = false;
    juce::WaitableEvent done;
};

template <typename Connection>
std::unique_ptr<Connection> openOnMessageThread (std::function<std::unique_ptr<Connection>()> open,
                                                 std::shared_ptr<std::atomic<bool>> selectorAlive)
{
    auto* mm = juce::MessageManager::getInstanceWithoutCreating();

    if (mm == nullptr || mm->isThisTheMessageThread())
        return open();

    if (mm->hasStopMessageBeenSent())
        return {};

    auto pending = std::make_shared<PendingOpen<Connection>>();

    const bool posted = juce::MessageManager::callAsync (
        [pending, open, selectorAlive]
        {
            {
                std::lock_guard<std::mutex> guard (pending->mutex);
                if (pending->abandoned)
                    return;
            }

            std::unique_ptr<Connection> opened;
            if (selectorAlive->load())
                opened = open();

            std::lock_guard<std::mutex> guard (pending->mutex);
            if (pending->abandoned)
                return; // the worker left: `opened` closes here

            pending->result = std::move (opened);
            pending->done.signal();
        });

    if (!posted)
        return {};

    // The message thread may itself be blocked stopping this worker, so never wait for it blindly.
    while (!pending->done.wait (stopCheckSliceMs))
    {
        if (juce::Thread::currentThreadShouldExit() || mm->hasStopMessageBeenSent())
        {
            std::unique_ptr<Connection> late;
            {
                std::lock_guard<std::mutex> guard (pending->mutex);
                pending->abandoned = true;
                late = std::move (pending->result);
            }
            return {};
        }
    }

    std::lock_guard<std::mutex> guard (pending->mutex);
    return std::move (pending->result);
}
} // namespace

std::unique_ptr<vfu::MidiInputConnection> MIDIPortsSelector::openInputDevice (int index)
{
    if (index < 0)
        return {};

    std::function<std::unique_ptr<vfu::MidiInputConnection>()> open = [this, index]
    { return midiLayer.openInput (index, *this); };

    if (!midiLayer.opensOnMessageThread())
        return open();

    return openOnMessageThread (open, alive);
}

std::unique_ptr<vfu::MidiOutputConnection> MIDIPortsSelector::openOutputDevice (int index)
{
    if (index < 0)
        return {};

    std::function<std::unique_ptr<vfu::MidiOutputConnection>()> open = [this, index]
    { return midiLayer.openOutput (index); };

    if (!midiLayer.opensOnMessageThread())
        return open();

    return openOnMessageThread (open, alive);
}
