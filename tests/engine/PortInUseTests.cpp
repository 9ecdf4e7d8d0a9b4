// A port that another program holds: the engine shows one line after the instructions while it
// lasts, logs the port and the result once per change, and sends no erase on a held output.
#include "EngineTestSupport.h"

#include "core/Log.h"

#include <gtest/gtest.h>

using namespace vfu::test;

namespace
{
const juce::String shown = "noticeChanged|" + juce::String ((int) FirmwareUpdaterCallback::Notice::portInUse) +
                           "|The instrument's MIDI port is in use by another program. Close programs that use MIDI "
                           "(a DAW, an editor) and the update continues.";
const juce::String withdrawn = "noticeChanged|" + juce::String ((int) FirmwareUpdaterCallback::Notice::portInUse) + "|";

int count (const juce::StringArray& lines, const juce::String& line)
{
    int n = 0;
    for (auto& l : lines)
        n += l.endsWith (line) ? 1 : 0;
    return n;
}
} // namespace

TEST (PortInUse, shows_while_the_input_is_held_logs_each_change_once_and_goes_when_the_port_is_free)
{
    vfu::LogCollector log;
    EngineHarness harness (makeDocument ("<State name=\"A\" pollingMode=\"MIDI Device inquiry\"/>"), 500.0);
    auto& device = harness.addChosenRecordingDevice();
    harness.layer.setHeldByAnotherProgram ("Test Port", "MMSYSERR_ALLOCATED", {});

    harness.updater->startThread();
    ASSERT_TRUE (harness.waitFor ([&] { return device.getMessages().size() >= 3; }, 60000)); // three polls at least
    EXPECT_EQ (count (harness.callback.getLines(), shown), 1);
    EXPECT_EQ (count (log.getLines(), "MIDI port in use by another program: input [Test Port] (MMSYSERR_ALLOCATED)"),
               1);

    harness.layer.setHeldByAnotherProgram ("Test Port", {}, {});
    ASSERT_TRUE (harness.waitFor ([&] { return harness.callback.indexOf (withdrawn) >= 0; }, 60000));
    const auto messages = device.getMessages().size();
    ASSERT_TRUE (harness.waitFor ([&] { return device.getMessages().size() >= messages + 2; }, 60000));
    harness.updater->stopThread (2000);

    EXPECT_EQ (count (harness.callback.getLines(), shown), 1);
    EXPECT_EQ (count (harness.callback.getLines(), withdrawn), 1);
    EXPECT_EQ (count (log.getLines(), "MIDI ports no longer held by another program"), 1);
}

TEST (PortInUse, a_held_output_sends_no_erase_and_shows_the_line)
{
    vfu::LogCollector log;
    EngineHarness harness (makeDocument ("<State name=\"A\" pollingMode=\"none\">"
                                         "<TextField name=\"InstructionsField\" text=\"Erasing\"/>"
                                         "<SendSysEx messageKind=\"erase\"/><Print text=\"after\"/></State>"),
                           500.0);
    auto& device = harness.addChosenRecordingDevice();
    harness.layer.setHeldByAnotherProgram ("Test Port", {}, "MMSYSERR_NOMEM");

    harness.updater->startThread();
    ASSERT_TRUE (harness.waitFor ([&] { return harness.callback.indexOf ("printMessage|after|false") >= 0; }, 60000));
    harness.updater->stopThread (2000);

    EXPECT_TRUE (device.getMessages().empty());
    const auto lines = harness.callback.getLines();
    EXPECT_EQ (lines.indexOf (shown), lines.indexOf ("textFieldChanged|InstructionsField|Erasing|true") + 1);
    EXPECT_TRUE (log.contains ("MIDI port in use by another program: output [Test Port] (MMSYSERR_NOMEM)"));
    EXPECT_TRUE (log.contains ("SendSysEx 'erase' : no MIDI output to send on"));
}
