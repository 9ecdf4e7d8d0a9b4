// The panel while the firmware is being erased or written: what it tells the user, and the
// question it asks before Cancel would stop the update.
#include "PanelTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/Log.h"
#include "definitions/FirmwareUpdater.h"
#include "support/MessageLoop.h"
#include "ui/TimeLeftText.h"

using namespace vfu::test;

namespace
{
const juce::String keepConnected =
    "Keep the instrument connected and powered, and this window open, until the update has ended.";

// Records the questions the panel asks instead of showing them.
struct QuestionRecorder
{
    struct Shown final : ShownQuestion
    {
        explicit Shown (QuestionRecorder& r) : recorder (r) { ++recorder.open; }
        ~Shown() override
        {
            --recorder.open;
            recorder.answer = nullptr;
        }
        QuestionRecorder& recorder;
    };

    QuestionPresenter presenter()
    {
        return [this] (const StopQuestion& question, std::function<void (bool)> answered)
        {
            asked.add (question.stopButtonText);
            lastQuestion = question;
            answer = std::move (answered);
            return std::make_unique<Shown> (*this);
        };
    }

    bool isOpen() const { return open > 0; }

    // As the user's click would: the answer runs once, and the panel takes the question away.
    void respond (bool stop)
    {
        auto call = std::move (answer);
        answer = nullptr;
        ASSERT_TRUE (call != nullptr);
        call (stop);
    }

    juce::StringArray asked;
    StopQuestion lastQuestion;
    std::function<void (bool)> answer; // null once the question is gone
    int open = 0;
};

const char* const cancellableDefinition = R"(<FirmwareUpdaters>
  <FirmwareUpdater deviceName="Quillbox" communicationMode="MIDI" MIDIDeviceID="0008"
                   fileNamePattern="quillbox-fw-" initialState="Start" timeout="45" timeoutState="Start">
    <State name="Start" pollingMode="none">
      <TextField name="InstructionsField" text="Ready" visible="true"/>
      <Button name="InstallCancel" text="Cancel" state="enabled" gotoState="Cancelled"/>
    </State>
    <State name="Cancelled" pollingMode="none">
      <TextField name="InstructionsField" text="Cancelled" visible="true"/>
    </State>
  </FirmwareUpdater>
</FirmwareUpdaters>)";
} // namespace

TEST (GuardedPanel, tells_to_keep_connected_and_shows_the_time_left_only_while_guarded)
{
    PanelFixture fixture;
    auto& panel = fixture.createPanel (createExecutableFolder ({ "2.2.1" }));
    panel.getEngine()->stopThread (5000);
    auto& installing = *findChildByName<juce::Label> (panel, "Installing");

    panel.stateChanged ("Erase, waiting for reattach", "Firmware download");
    panel.textFieldChanged ("InstructionsField", "Installing.", true);
    panel.guardChanged (true);
    EXPECT_EQ (panel.getInstructionsText(), "Installing.\n\n" + keepConnected);

    panel.progressChanged (0.25);
    panel.timeLeftChanged (129.2);
    EXPECT_EQ (panel.getTimeLeftText(), "About 2 min 10 s left");
    EXPECT_EQ (installing.getText(), "Installing 25%") << "the progress label stays as it is";
    panel.timeLeftChanged (std::nan (""));
    EXPECT_EQ (panel.getTimeLeftText(), "") << "a figure that is no number hides the line";
    panel.timeLeftChanged (3.0);
    EXPECT_EQ (panel.getTimeLeftText(), "About 3 s left");

    // The transfer's state ends: the time left goes, the notice stays until the verdict.
    panel.stateChanged ("Firmware download", "Waiting for the new firmware");
    EXPECT_EQ (panel.getTimeLeftText(), "");
    EXPECT_TRUE (panel.getInstructionsText().endsWith (keepConnected));

    panel.guardChanged (false);
    EXPECT_EQ (panel.getInstructionsText(), "Installing.");
    EXPECT_EQ (panel.getTimeLeftText(), "");

    EXPECT_EQ (formatTimeLeft (3900.0), "About 1 h 5 min left");
    EXPECT_EQ (formatTimeLeft (0.0), "");
    EXPECT_EQ (formatTimeLeft (-1.0), "");
    EXPECT_EQ (formatTimeLeft (1e300), "");
}

TEST (GuardedPanel, cancel_asks_first_while_guarded_and_acts_at_once_otherwise)
{
    vfu::LogCollector log;
    auto folder = createExecutableFolder ({ "2.2.1" });
    ASSERT_TRUE (folder.getChildFile ("StateMachines.xml").replaceWithText (cancellableDefinition));
    PanelFixture fixture;
    auto& panel = fixture.createPanel (folder);
    QuestionRecorder questions;
    panel.questionPresenter = questions.presenter();
    auto& cancel = *findChildByName<juce::TextButton> (panel, "InstallCancel");
    ASSERT_TRUE (runMessageLoopUntil ([&] { return cancel.isEnabled(); }, 20000));
    const auto cancelled = [&] { return panel.getInstructionsText().startsWith ("Cancelled"); };
    // A click reaches the panel through the message loop.
    const auto click = [&]
    {
        cancel.triggerClick();
        runMessageLoopFor (200);
    };

    panel.guardChanged (true);
    click();
    ASSERT_EQ (questions.asked, juce::StringArray ("Cancel anyway"));
    EXPECT_EQ (questions.lastQuestion.keepButtonText, "Keep updating");
    EXPECT_TRUE (questions.lastQuestion.message.contains ("without working firmware until the update is run again"));
    EXPECT_FALSE (cancelled()) << "nothing happens before the answer";

    questions.respond (false);
    EXPECT_FALSE (questions.isOpen());
    runMessageLoopFor (300);
    EXPECT_FALSE (cancelled()) << "Keep updating keeps updating";

    // The phase ends while the question is open: it goes away and nothing is cancelled.
    click();
    ASSERT_TRUE (questions.isOpen());
    panel.guardChanged (false);
    EXPECT_FALSE (questions.isOpen());
    runMessageLoopFor (300);
    EXPECT_FALSE (cancelled());

    panel.guardChanged (true);
    click();
    ASSERT_TRUE (questions.isOpen());
    questions.respond (true);
    EXPECT_TRUE (runMessageLoopUntil (cancelled, 20000)) << "confirmed, Cancel acts as it always did";
    EXPECT_EQ (questions.asked.size(), 3);

    // Outside the phase Cancel needs no answer.
    panel.guardChanged (false);
    panel.getEngine()->restartFromInitialState();
    ASSERT_TRUE (runMessageLoopUntil ([&] { return panel.getInstructionsText() == "Ready"; }, 20000));
    click();
    EXPECT_TRUE (runMessageLoopUntil (cancelled, 20000));
    EXPECT_EQ (questions.asked.size(), 3);
}
