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

TEST (VfuRun, exits_by_the_updates_verdict_and_refuses_states_the_machine_does_not_have)
{
    // A package named 2.2.3 holding an image that installs 2.2.0: pack warns, and the run that
    // reaches "Download complete" says "Update has failed. Please try again." and fails.
    const auto folder = vfu::test::createTemporaryFolder ("vfu-run-verdict");
    const auto image = folder.getChildFile ("quillbox-fw-2.2.3.syx").getFullPathName();
    const auto package = folder.getChildFile ("quillbox-fw-2.2.3.vfw").getFullPathName();
    ASSERT_EQ (
        vfu::test::runVfu ({ "make-image", "--model", "quillbox", "--version", "2.2.0", "--size", "3000", "-o", image })
            .exitCode,
        0);
    const auto packed = vfu::test::runVfu ({ "pack", "--name", "quillbox-fw-2.2.3", "-o", package, image });
    ASSERT_EQ (packed.exitCode, 0) << packed.output;
    EXPECT_TRUE (
        packed.output.contains ("Warning: quillbox-fw-2.2.3.syx reports version 2.2.0, the package name says 2.2.3"))
        << packed.output;

    const auto failed =
        vfu::test::runVfu ({ "run", "--simulate", "quillbox:2.1.0", "--package", package, "--speed", "50" });
    EXPECT_EQ (failed.exitCode, 1) << failed.output;
    EXPECT_TRUE (failed.output.contains ("Update has failed. Please try again.")) << failed.output;
    EXPECT_TRUE (
        failed.output.trimEnd().endsWith ("result: failed: the instrument reports 2.2.0, the package is 2.2.3"))
        << failed.output;

    for (const auto& option : { juce::String ("--until"), juce::String ("--click") })
    {
        const auto unknown = vfu::test::runVfu (
            { "run", "--simulate", "quillbox:2.1.0", "--package", package, option, "Firmware uploaded+1" });
        EXPECT_EQ (unknown.exitCode, 2) << unknown.output;
        EXPECT_TRUE (
            unknown.output.contains (option + " names no state of the \"Quillbox\" machine: \"Firmware uploaded"))
            << unknown.output;
    }
}
