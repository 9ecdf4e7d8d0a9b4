#pragma once

#include <juce_core/juce_core.h>

#include <functional>
#include <memory>

class FirmwareUpdaterCallback;

namespace vfu
{
// Makes the engine's reports as synchronous calls on the message thread that a stop can cut
// short. Each report is posted to the message thread with a shared token; the engine thread waits
// for it in short slices and gives up as soon as it is asked to exit, marking the token so that
// the late message does nothing. Closing the channel (the updater's destructor, on the message
// thread) makes every report that has not run yet do nothing, so none reaches a deleted receiver.
class ReportChannel final
{
public:
    ReportChannel();
    ~ReportChannel();

    // Runs report with the callback on the message thread and waits until it has returned. Returns
    // false, without waiting any longer, when the calling thread is asked to exit, the channel is
    // closed, there is no callback or no message thread. Called on the message thread itself, the
    // report runs at once.
    bool deliver (FirmwareUpdaterCallback* callback, std::function<void (FirmwareUpdaterCallback&)> report);

    // Runs report with the callback on the message thread later, without waiting: for reports that
    // must still arrive when the engine is being stopped (deliver gives up then). Dropped when the
    // channel is closed before it runs. False when it could not be posted.
    bool post (FirmwareUpdaterCallback* callback, std::function<void (FirmwareUpdaterCallback&)> report);

    // Message thread. No report runs after this; later deliveries are dropped.
    void close();

private:
    struct Gate;
    struct Call;
    std::shared_ptr<Gate> gate;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ReportChannel)
};
} // namespace vfu
