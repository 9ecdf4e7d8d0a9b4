// vfu run against a simulated instrument that another program is connected to.
#include "support/TestEnvironment.h"
#include "vfu/VfuProcess.h"

#include "packages/DeliveredPackage.h"

#include <gtest/gtest.h>

TEST (VfuRun, reports_and_logs_the_programs_connected_to_the_instrument_before_the_erase)
{
    const auto folder = vfu::test::createTemporaryFolder ("vfu-run-connected");
    const auto packageFile = folder.getChildFile (vfu::DeliveredPackage::packageFileName);
    const auto package = vfu::DeliveredPackage::createPackage();
    ASSERT_TRUE (packageFile.replaceWithData (package.getData(), package.getSize()));

    const auto finished = vfu::test::runVfu (
        { "run", "--simulate", "quillbox:2.1.0", "--package", packageFile.getFullPathName(), "--connected", "Clock DAW",
          "--connected", "Sequencer", "--speed", "50", "--until", "Erase, waiting for reattach", "--log" });
    ASSERT_EQ (finished.exitCode, 0) << finished.output;

    juce::StringArray states, warnings, logLines;
    for (auto& line : juce::StringArray::fromLines (finished.output))
    {
        const auto report = juce::JSON::parse (line);
        if (report["report"] == juce::var ("stateChanged"))
            states.add (report["state"].toString());
        else if (report["report"] == juce::var ("warningShown"))
            warnings.add (report["text"].toString() + " @ " + states[states.size() - 1]);
        else if (report.hasProperty ("log") && report["log"].toString().startsWith ("Other programs"))
            logLines.add (report["log"].toString());
    }

    EXPECT_EQ (warnings,
               juce::StringArray ("Warning: other programs are connected to the instrument (Clock DAW, "
                                  "Sequencer). If the update fails, close them and try again. @ Firmware erase"))
        << finished.output;
    EXPECT_EQ (logLines,
               juce::StringArray ("Other programs are connected to the instrument's MIDI ports: Clock DAW, Sequencer"))
        << finished.output;
}
