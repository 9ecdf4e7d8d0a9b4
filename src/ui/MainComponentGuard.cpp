// The main panel during the guarded phase: the notice to keep everything connected, the time
// left, the question before stopping, and the reason Windows shows when the session would end.
#include "ui/MainComponent.h"

#include "ui/PanelFont.h"
#include "ui/TimeLeftText.h"

#include "core/PowerHold.h"

namespace
{
const juce::String keepConnectedText =
    "Keep the instrument connected and powered, and this window open, until the update has ended.";

// Shown by Windows beside the program's name when the session is asked to end.
const juce::String shutdownBlockReason = "Firmware update in progress";
} // namespace

void MainComponent::guardChanged (bool guardedNow)
{
    if (guardedNow == guarded)
        return;

    guarded = guardedNow;
    noticeChanged (Notice::keepConnected, guarded ? keepConnectedText : juce::String());

    if (!guarded)
    {
        openQuestion = nullptr; // the verdict is in: nothing is left to ask
        hideTimeLeft();
    }

    setShutdownBlockReason (guarded);

    if (onGuardChanged != nullptr)
        onGuardChanged (guarded);
}

void MainComponent::timeLeftChanged (double secondsLeft)
{
    const auto text = formatTimeLeft (secondsLeft);
    timeLeftLabel->setText (text, juce::sendNotification);
    timeLeftLabel->setVisible (text.isNotEmpty());
}

void MainComponent::askBeforeStopping (const StopQuestion& question, std::function<void()> onStop)
{
    if (onStop == nullptr)
        return;

    if (!guarded)
    {
        onStop();
        return;
    }

    if (openQuestion != nullptr)
        return;

    auto answered = [this, onStop] (bool stop)
    {
        // Released before acting: stopping may delete this panel (quitting does).
        auto asked = std::move (openQuestion);
        asked = nullptr;
        if (stop)
            onStop();
    };

    openQuestion = questionPresenter != nullptr ? questionPresenter (question, std::move (answered))
                                                : showStopQuestionWindow (question, std::move (answered), this);
}

juce::String MainComponent::getTimeLeftText() const
{
    return timeLeftLabel->isVisible() ? timeLeftLabel->getText() : juce::String();
}

void MainComponent::createTimeLeftLabel()
{
    timeLeftLabel = std::make_unique<juce::Label> ("TimeLeft", juce::String());
    timeLeftLabel->setFont (panelFont (15.0f));
    timeLeftLabel->setJustificationType (juce::Justification::centredLeft);
    timeLeftLabel->setEditable (false, false, false);
    addChildComponent (*timeLeftLabel);
}

void MainComponent::hideTimeLeft()
{
    timeLeftLabel->setVisible (false);
    timeLeftLabel->setText ({}, juce::dontSendNotification);
}

void MainComponent::setShutdownBlockReason (bool guardedNow)
{
    // The handle of the top-level window, whose thread (this one) must make the call.
    if (auto* peer = getPeer())
        vfu::setShutdownBlockReason (peer->getNativeHandle(), guardedNow ? shutdownBlockReason : juce::String());
}
