#include "ui/StopQuestion.h"

StopQuestion StopQuestion::forQuitting()
{
    StopQuestion question;
    question.stopButtonText = "Quit anyway";
    return question;
}

StopQuestion StopQuestion::forCancelling()
{
    StopQuestion question;
    question.stopButtonText = "Cancel anyway";
    return question;
}

namespace
{
constexpr int keepResult = 1;
constexpr int stopResult = 2;

class AlertQuestion final : public ShownQuestion
{
public:
    AlertQuestion (const StopQuestion& question, std::function<void (bool)> answeredToCall, juce::Component* around)
        : answered (std::make_shared<std::function<void (bool)>> (std::move (answeredToCall))),
          alert (question.title, question.message, juce::MessageBoxIconType::WarningIcon, around)
    {
        alert.addButton (question.keepButtonText, keepResult, juce::KeyPress (juce::KeyPress::returnKey));
        alert.addButton (question.stopButtonText, stopResult);
        alert.setEscapeKeyCancels (true);

        // The answer may come after this object is gone (a deleted modal component still reports
        // its result later): the shared function is cleared first, so a late result does nothing.
        auto answer = answered;
        alert.enterModalState (true,
                               juce::ModalCallbackFunction::create (
                                   [answer] (int result)
                                   {
                                       if (auto call = *answer)
                                           call (result == stopResult);
                                   }),
                               false);

        if (auto* keep = findButton (question.keepButtonText))
            keep->grabKeyboardFocus();
    }

    ~AlertQuestion() override { *answered = nullptr; }

private:
    juce::Button* findButton (const juce::String& text)
    {
        for (auto* child : alert.getChildren())
            if (auto* button = dynamic_cast<juce::Button*> (child); button != nullptr && button->getName() == text)
                return button;
        return nullptr;
    }

    std::shared_ptr<std::function<void (bool)>> answered;
    juce::AlertWindow alert;
};
} // namespace

std::unique_ptr<ShownQuestion> showStopQuestionWindow (const StopQuestion& question,
                                                       std::function<void (bool stop)> answered,
                                                       juce::Component* centreAround)
{
    return std::make_unique<AlertQuestion> (question, std::move (answered), centreAround);
}
