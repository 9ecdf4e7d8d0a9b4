// vfu lint and vfu graph as a user runs them: exit codes, output forms, Graphviz present or not.
#include "core/Environment.h"
#include "definitions/DefinitionGraph.h"
#include "support/TestEnvironment.h"
#include "vfu/VfuProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>

#if !JUCE_WINDOWS
#include <sys/stat.h>
#endif

namespace
{
using Outcome = vfu::test::VfuRun;

// Windows' text streams end lines with CR LF.
Outcome runVfu (const juce::StringArray& arguments)
{
    auto run = vfu::test::runVfu (arguments, 60000);
    run.output = run.output.replace ("\r\n", "\n");
    return run;
}

// PATH for the commands run while it lives, put back afterwards.
struct ScopedPath
{
    explicit ScopedPath (const juce::String& path) { vfu::setEnvironmentVariable ("PATH", path); }
    ~ScopedPath() { vfu::setEnvironmentVariable ("PATH", saved); }

    const juce::String saved = juce::SystemStats::getEnvironmentVariable ("PATH", {});
};

bool graphvizInstalled()
{
    return vfu::definitions::findGraphvizDot() != juce::File();
}
} // namespace

TEST (VfuLintCommand, exits_4_with_warnings_0_without_and_1_for_a_rejected_document)
{
    const auto quillbox = runVfu ({ "lint" });
    EXPECT_EQ (quillbox.exitCode, 4) << quillbox.output;
    EXPECT_EQ (quillbox.output.trim(),
               "inbuilt:381: unreachable-state: State 'Error, no device', State: no transition, "
               "button, GotoState or time-out that the engine can take leads to this state");

    const auto orb = runVfu ({ "lint", "--device=Orb 26" });
    EXPECT_EQ (orb.exitCode, 0) << orb.output;
    EXPECT_EQ (orb.output, "");

    const auto json = runVfu ({ "lint", "--device", "Lumostrel", "--json" });
    EXPECT_EQ (json.exitCode, 4);
    const auto object = juce::JSON::parse (json.output.trim());
    EXPECT_EQ (object["code"].toString(), "unreachable-state");
    EXPECT_EQ ((int) object["line"], 92);

    const auto file = vfu::test::createTemporaryFolder ("vfu-lint").getChildFile ("StateMachines.xml");
    file.replaceWithText ("<FirmwareUpdater/>");
    const auto rejected = runVfu ({ "lint", file.getFullPathName() });
    EXPECT_EQ (rejected.exitCode, 1);
    EXPECT_TRUE (rejected.output.startsWith ("<FirmwareUpdaters> must be the root element.\n\nThe app will quit."))
        << rejected.output;

    EXPECT_EQ (runVfu ({ "lint", "--package", file.getSiblingFile ("none.vfw").getFullPathName() }).exitCode, 2);
}

TEST (VfuDefinitionFrontEnds, refuse_entities_fifos_and_devices_with_the_loaders_message)
{
    // A recursive entity crashed the reader; the refusal comes first now.
    const auto folder = vfu::test::createTemporaryFolder ("vfu-hostile");
    const auto entity = folder.getChildFile ("entity.xml");
    entity.replaceWithText ("<!DOCTYPE FirmwareUpdaters [<!ENTITY a \"XY&a;\">]>\n<FirmwareUpdaters a=\"&a;\"/>");
    const auto checked = runVfu ({ "check-definitions", entity.getFullPathName() });
    EXPECT_EQ (checked.exitCode, 1) << checked.output;
    EXPECT_TRUE (checked.output.startsWith ("<!ENTITY> declarations are not supported.\n\nThe app will quit."))
        << checked.output;

#if !JUCE_WINDOWS
    // A FIFO blocked the read, /dev/zero was read until memory ran out.
    const auto fifo = folder.getChildFile ("fifo.xml");
    ASSERT_EQ (mkfifo (fifo.getFullPathName().toRawUTF8(), 0600), 0);
    const auto linted = runVfu ({ "lint", fifo.getFullPathName() });
    EXPECT_EQ (linted.exitCode, 1);
    EXPECT_TRUE (linted.output.startsWith ("The definition document '" + fifo.getFullPathName() +
                                           "' is not a regular file.\n\nThe app will quit."))
        << linted.output;

    const auto ran = runVfu ({ "run", "--simulate", "quillbox:2.1.0", "--definitions", "/dev/zero" });
    EXPECT_EQ (ran.exitCode, 1);
    EXPECT_TRUE (ran.output.contains ("The definition document '/dev/zero' is not a regular file.")) << ran.output;

    const auto listed = runVfu ({ "packages", "--device", "Quillbox", "--definition", "/dev/zero" });
    EXPECT_EQ (listed.exitCode, 1);
    EXPECT_TRUE (listed.output.contains ("The definition document '/dev/zero' is not a regular file."))
        << listed.output;
#endif
}

TEST (VfuGraphCommand, writes_dot_itself_and_says_when_graphviz_is_missing)
{
    const auto dot = runVfu ({ "graph", "--device", "Orb 26" });
    EXPECT_EQ (dot.exitCode, 0);
    EXPECT_TRUE (dot.output.startsWith ("digraph \"Orb 26\" {")) << dot.output;

    const auto folder = vfu::test::createTemporaryFolder ("vfu-graph");
    {
        const ScopedPath noGraphviz (folder.getFullPathName());
        const auto missing =
            runVfu ({ "graph", "--format", "svg", "-o", folder.getChildFile ("q.svg").getFullPathName() });
        EXPECT_EQ (missing.exitCode, 3);
        EXPECT_TRUE (missing.output.contains ("needs Graphviz's dot program, which is not on PATH")) << missing.output;
        EXPECT_FALSE (folder.getChildFile ("q.svg").exists());

        // dot needs no Graphviz.
        EXPECT_EQ (runVfu ({ "graph", "-o", folder.getChildFile ("q.dot").getFullPathName() }).exitCode, 0);
        EXPECT_TRUE (folder.getChildFile ("q.dot").loadFileAsString().startsWith ("digraph \"Quillbox\""));
    }

    EXPECT_EQ (runVfu ({ "graph", "--format", "jpg" }).exitCode, 2);
}

TEST (VfuGraphCommand, draws_svg_and_png_through_graphviz)
{
    if (!graphvizInstalled())
        GTEST_SKIP() << "Graphviz's dot is not installed";

    const auto folder = vfu::test::createTemporaryFolder ("vfu-graph-svg");
    const auto svg = folder.getChildFile ("lumostrel.svg");
    const auto png = folder.getChildFile ("lumostrel.png");

    EXPECT_EQ (runVfu ({ "graph", "--device", "Lumostrel", "--format=svg", "-o", svg.getFullPathName() }).exitCode, 0);
    EXPECT_TRUE (svg.loadFileAsString().contains ("Idle, bootloader detected"));

    EXPECT_EQ (
        runVfu ({ "graph", "--device", "Lumostrel", "--format", "png", "--output", png.getFullPathName() }).exitCode,
        0);
    juce::MemoryBlock bytes;
    ASSERT_TRUE (png.loadFileAsData (bytes));
    ASSERT_GT (bytes.getSize(), 4u);
    EXPECT_EQ (std::memcmp (bytes.getData(), "\x89PNG", 4), 0);
}
