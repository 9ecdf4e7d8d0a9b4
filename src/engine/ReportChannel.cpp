#include "engine/ReportChannel.h"

#include "engine/FirmwareUpdaterCallback.h"

#include <juce_events/juce_events.h>

#include <mutex>

namespace vfu
{
namespace
{
// How often a waiting engine looks at its exit flag, in real milliseconds.
constexpr int exitCheckIntervalMs = 5;
} // namespace

struct ReportChannel::Gate
{
    std::mutex lock;
    bool open = true;
};

struct ReportChannel::Call
{
    enum class Status
    {
        waiting,
        running,
        done,
        abandoned
    };

    std::mutex lock;
    Status status = Status::waiting;
    juce::WaitableEvent finished{ true };
};

ReportChannel::ReportChannel() : gate (std::make_shared<Gate>()) {}

ReportChannel::~ReportChannel()
{
    close();
}

bool ReportChannel::deliver (FirmwareUpdaterCallback* callback, std::function<void (FirmwareUpdaterCallback&)> report)
{
    if (callback == nullptr)
        return false;

    {
        const std::lock_guard<std::mutex> sl (gate->lock);
        if (!gate->open)
            return false;
    }

    auto* messageManager = juce::MessageManager::getInstanceWithoutCreating();
    if (messageManager == nullptr)
        return false;

    if (messageManager->isThisTheMessageThread())
    {
        report (*callback);
        return true;
    }

    auto call = std::make_shared<Call>();

    const bool posted = juce::MessageManager::callAsync (
        [sharedGate = gate, call, callback, report = std::move (report)]
        {
            {
                const std::lock_guard<std::mutex> sl (call->lock);
                if (call->status == Call::Status::abandoned)
                    return;
                call->status = Call::Status::running;
            }

            bool open;
            {
                const std::lock_guard<std::mutex> sl (sharedGate->lock);
                open = sharedGate->open;
            }

            // The gate is only closed on this (the message) thread, so it cannot close while the
            // report runs.
            if (open)
                report (*callback);

            {
                const std::lock_guard<std::mutex> sl (call->lock);
                call->status = Call::Status::done;
            }
            call->finished.signal();
        });

    if (!posted)
        return false;

    while (!call->finished.wait (exitCheckIntervalMs))
    {
        if (juce::Thread::currentThreadShouldExit())
        {
            // A report that is running at this moment ends on the message thread by itself; one
            // that has not started yet never will.
            const std::lock_guard<std::mutex> sl (call->lock);
            if (call->status == Call::Status::waiting)
                call->status = Call::Status::abandoned;
            return false;
        }

        const std::lock_guard<std::mutex> sl (gate->lock);
        if (!gate->open)
            return false;
    }

    return true;
}

bool ReportChannel::post (FirmwareUpdaterCallback* callback, std::function<void (FirmwareUpdaterCallback&)> report)
{
    if (callback == nullptr || juce::MessageManager::getInstanceWithoutCreating() == nullptr)
        return false;

    return juce::MessageManager::callAsync (
        [sharedGate = gate, callback, report = std::move (report)]
        {
            // The gate is only closed on this (the message) thread, so it cannot close while the
            // report runs.
            {
                const std::lock_guard<std::mutex> sl (sharedGate->lock);
                if (!sharedGate->open)
                    return;
            }
            report (*callback);
        });
}

void ReportChannel::close()
{
    const std::lock_guard<std::mutex> sl (gate->lock);
    gate->open = false;
}
} // namespace vfu
