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

// True when a worker may have left an open on the message thread unfinished (the conditions under
// which openOnMessageThread gives up stay true): what that open says is not to be read.
bool openWasAbandoned()
{
    auto* mm = juce::MessageManager::getInstanceWithoutCreating();
    return juce::Thread::currentThreadShouldExit() || (mm != nullptr && mm->hasStopMessageBeenSent());
}
} // namespace

std::unique_ptr<vfu::MidiInputConnection> MIDIPortsSelector::openInputDevice (int index)
{
    if (index < 0)
        return {};

    // Shared: an open that the worker gave up on may still write it on the message thread.
    auto refusal = std::make_shared<vfu::OpenRefusal>();
    std::function<std::unique_ptr<vfu::MidiInputConnection>()> open = [this, index, refusal]
    { return midiLayer.openInputOrSayWhy (index, *this, *refusal); };

    auto input = midiLayer.opensOnMessageThread() ? openOnMessageThread (open, alive) : open();
    if (!openWasAbandoned())
        noteOpening (true, input != nullptr ? input->getName() : juce::String(), input != nullptr, *refusal);
    return input;
}

std::unique_ptr<vfu::MidiOutputConnection> MIDIPortsSelector::openOutputDevice (int index)
{
    if (index < 0)
        return {};

    auto refusal = std::make_shared<vfu::OpenRefusal>();
    std::function<std::unique_ptr<vfu::MidiOutputConnection>()> open = [this, index, refusal]
    { return midiLayer.openOutputOrSayWhy (index, *refusal); };

    auto output = midiLayer.opensOnMessageThread() ? openOnMessageThread (open, alive) : open();
    if (!openWasAbandoned())
        noteOpening (false, output != nullptr ? output->getName() : juce::String(), output != nullptr, *refusal);
    return output;
}
