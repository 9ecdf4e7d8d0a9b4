// The guarded phase and the notice of an instrument left waiting for firmware.
#include "definitions/FirmwareUpdater.h"

#include "definitions/InstructionVisit.h"
#include "core/Log.h"

namespace
{
using State = FirmwareUpdater::State;

bool sendsSysEx (const State::InstructionList& instructions)
{
    bool sends = false;
    vfu::visitAll (instructions, [&sends] (const State::SendSysExInstruction&) { sends = true; });
    return sends;
}

void collectButtons (const State::InstructionList& instructions, std::vector<const State::ButtonInstruction*>& buttons)
{
    vfu::visitAll (instructions, [&buttons] (const State::ButtonInstruction& button) { buttons.push_back (&button); });
}
} // namespace

void FirmwareUpdater::beginGuard()
{
    firmwareOverwritten = true;
    guard.begin();

    if (waitingNoticeShown)
    {
        waitingNoticeShown = false;
        reportNoticeChanged (FirmwareUpdaterCallback::Notice::waitingForFirmware, {});
    }
}

// The verdict is a state that sends nothing and sets a button that offers no way out of the update:
// the button is disabled ("Download complete", "Update cancelled", an error), or it starts the
// update over ("Install" to the erase). A state that offers a cancel (an enabled button leading to a
// state that sends nothing), or sets no button at all, is still on the way. A fresh start or a
// restart (no state before) also ends the phase: the machine begins again from its idle state.
bool FirmwareUpdater::isVerdictState (const State& state) const
{
    if (sendsSysEx (state.instructions))
        return false;

    std::vector<const State::ButtonInstruction*> buttons;
    collectButtons (state.instructions, buttons);
    if (buttons.empty())
        return false;

    for (const auto* button : buttons)
    {
        if (button->state != "enabled" || button->gotoState.isEmpty() || runningMachine == nullptr)
            continue;

        const auto* target = runningMachine->getState (button->gotoState);
        if (target != nullptr && !sendsSysEx (target->instructions))
            return false; // a cancel: the update is still running
    }

    return true;
}

void FirmwareUpdater::noteStateEntered (const State& state, bool afterNoState)
{
    verdictPending = guard.isGuarded() && (afterNoState || isVerdictState (state));
}

// The verdict state's instructions show the outcome first; a Wait among them (a cancel shows its
// text for a while) ends the phase before it sleeps.
void FirmwareUpdater::endGuardAtVerdict()
{
    if (std::exchange (verdictPending, false))
        guard.end();
}

// After an inquiry: the bootloader answering before this updater erased anything, and before the
// firmware answered (a restart into the bootloader that the instructions asked for), means an
// earlier update did not finish. The notice goes once the erase goes out or the firmware answers.
void FirmwareUpdater::noteInquiryResult (PollResult result)
{
    const bool firmware = result == PollResult::DeviceDetected || result == PollResult::PanelModeDetected;
    if (firmware)
        firmwareAnswered = true;

    if (result == PollResult::BootloaderDetected && !firmwareOverwritten.load() && !firmwareAnswered &&
        !waitingNoticeShown)
    {
        waitingNoticeShown = true;
        writeLog ("Bootloader detected before any erase: an earlier update probably did not finish");
        reportNoticeChanged (FirmwareUpdaterCallback::Notice::waitingForFirmware,
                             "The " + deviceName +
                                 " is waiting for firmware, probably from an update that did not finish. "
                                 "Install restores it.");
    }
    else if (firmware && waitingNoticeShown)
    {
        waitingNoticeShown = false;
        reportNoticeChanged (FirmwareUpdaterCallback::Notice::waitingForFirmware, {});
    }
}

// ----- Reports of the phase -----

// Posted, not waited for: the end must reach the receiver also when the engine is being stopped,
// and a posted report still arrives in order with those made after it.
void FirmwareUpdater::reportGuardChanged (bool guarded)
{
    reports.post (callback, [guarded] (FirmwareUpdaterCallback& c) { c.guardChanged (guarded); });
}

void FirmwareUpdater::reportNoticeChanged (FirmwareUpdaterCallback::Notice which, const juce::String& text)
{
    reports.deliver (callback, [which, text] (FirmwareUpdaterCallback& c) { c.noticeChanged (which, text); });
}

void FirmwareUpdater::reportTimeLeftChanged (double secondsLeft)
{
    reports.deliver (callback, [secondsLeft] (FirmwareUpdaterCallback& c) { c.timeLeftChanged (secondsLeft); });
}
