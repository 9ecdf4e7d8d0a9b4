#pragma once

#include "core/PowerHold.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace vfu
{
// The guarded phase of one updater: from just before the instrument's firmware is erased (or first
// overwritten) until the update's verdict. While it lasts the computer's sleep and shutdown are held
// off and the receivers are told, so that quitting asks first and signals wait for the verdict.
// Owned by the FirmwareUpdater; begun and ended on its engine thread, read from any thread.
class UpdateGuard final
{
public:
    // Takes the hold (null: none could be had). Called on the engine thread at each begin.
    using HoldFactory = std::function<std::unique_ptr<PowerHold>()>;
    // Told true at the begin and false at the end, on the thread that begins or ends.
    using Report = std::function<void (bool guarded)>;

    UpdateGuard (HoldFactory takeHold, Report report);

    // Releases a hold still held, without a report (the receivers are going away).
    ~UpdateGuard();

    // Takes the hold and reports true; nothing when the phase has already begun.
    void begin();

    // Releases the hold and reports false; nothing outside the phase.
    void end();

    bool isGuarded() const noexcept { return guarded.load(); }

    // The platform's hold for this program, with the reason the system shows for it.
    static std::unique_ptr<PowerHold> holdForThisProgram();

private:
    const HoldFactory takeHold;
    const Report report;
    std::atomic<bool> guarded{ false };
    std::mutex holdLock; // guards hold
    std::unique_ptr<PowerHold> hold;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UpdateGuard)
};
} // namespace vfu
