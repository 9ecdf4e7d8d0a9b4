#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>

// The question asked before the user's action (quitting, Cancel) would stop an update whose
// firmware is being erased or written. Keeping on is the default: Return, Escape and closing the
// question all keep updating.
struct StopQuestion
{
    juce::String title = "Update in progress";
    juce::String message = "The firmware is being installed. If the update stops now, the instrument is left "
                           "without working firmware until the update is run again.";
    juce::String keepButtonText = "Keep updating";
    juce::String stopButtonText;

    static StopQuestion forQuitting();
    static StopQuestion forCancelling();
};

// A question on the screen. Destroying it takes it away unanswered.
class ShownQuestion
{
public:
    virtual ~ShownQuestion() = default;
};

// Shows a question and calls answered (true: stop) once, on the message thread, unless the
// question is destroyed first. Never waits for the answer.
using QuestionPresenter = std::function<std::unique_ptr<ShownQuestion> (const StopQuestion& question,
                                                                        std::function<void (bool stop)> answered)>;

// The shipped presenter: an asynchronous alert window, centred on the component (may be null),
// whose first button keeps updating.
std::unique_ptr<ShownQuestion> showStopQuestionWindow (const StopQuestion& question,
                                                       std::function<void (bool stop)> answered,
                                                       juce::Component* centreAround);
