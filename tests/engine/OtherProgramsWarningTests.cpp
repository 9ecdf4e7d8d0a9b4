// Before the erase goes out, the engine names the other programs connected to the instrument's
// ports, in the log and as a warning for the window; the update goes on.
#include "EngineTestSupport.h"

#include "core/Log.h"

#include <gtest/gtest.h>

using namespace vfu::test;

namespace
{
const juce::String eraseThenPrint = "<State name=\"A\" pollingMode=\"none\">"
                                    "<TextField name=\"InstructionsField\" text=\"Erasing\"/>"
                                    "<SendSysEx messageKind=\"erase\"/>"
                                    "<Print text=\"after\"/></State>";

// The machine sends an image after the erase, and no package holds it: the erase stays unsent.
const juce::String eraseWithoutPackage = "<State name=\"A\" pollingMode=\"none\">"
                                         "<TextField name=\"InstructionsField\" text=\"Erasing\"/>"
                                         "<SendSysEx messageKind=\"erase\"/>"
                                         "<SendSysEx messageKind=\"test-fw-$(version)\"/>"
                                         "<Print text=\"after\"/></State>";

const juce::String logLine = "Other programs are connected to the instrument's MIDI ports: Clock DAW, Sequencer";
const juce::String warning = "warningShown|Warning: other programs are connected to the instrument (Clock DAW, "
                             "Sequencer). If the update fails, close them and try again.";
} // namespace

TEST (OtherProgramsWarning, comes_right_before_the_erase_only_when_programs_are_connected_and_the_erase_goes_out)
{
    enum class Case
    {
        connected,
        noneConnected,
        eraseNotSent
    };

    for (const auto c : { Case::connected, Case::noneConnected, Case::eraseNotSent })
    {
        SCOPED_TRACE ((int) c);
        vfu::LogCollector log;
        EngineHarness harness (makeDocument (c == Case::eraseNotSent ? eraseWithoutPackage : eraseThenPrint), 500.0);
        auto& device = harness.addChosenRecordingDevice();
        if (c != Case::noneConnected)
            harness.layer.setOtherProgramsConnected ("Test Port", { "Clock DAW", "Sequencer" });

        // What the instrument had received when the warning reached the window.
        int messagesAtWarning = -1;
        harness.callback.onReport = [&] (const juce::String& line)
        {
            if (line.startsWith ("warningShown|"))
                messagesAtWarning = (int) device.getMessages().size();
        };

        harness.updater->startThread();
        ASSERT_TRUE (
            harness.waitFor ([&] { return harness.callback.indexOf ("printMessage|after|false") >= 0; }, 60000));
        harness.updater->stopThread (2000);

        const auto lines = harness.callback.getLines();
        const auto logText = log.getLines().joinIntoString ("\n");
        if (c == Case::connected)
        {
            EXPECT_TRUE (log.contains (logLine)) << logText;
            EXPECT_EQ (lines.indexOf (warning), lines.indexOf ("textFieldChanged|InstructionsField|Erasing|true") + 1)
                << lines.joinIntoString ("\n");
            EXPECT_EQ (messagesAtWarning, 0);
            ASSERT_EQ (device.getMessages().size(), 1u); // the erase went out all the same
            EXPECT_EQ (device.getMessages()[0].getRawDataSize(), 5);
        }
        else
        {
            EXPECT_FALSE (log.getLines().joinIntoString ("\n").contains ("Other programs")) << logText;
            EXPECT_FALSE (lines.joinIntoString ("\n").contains ("warningShown|")) << lines.joinIntoString ("\n");
            EXPECT_EQ (device.getMessages().size(), c == Case::noneConnected ? 1u : 0u);
        }
    }
}
