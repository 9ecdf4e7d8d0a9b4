// The state machine drawn as a Graphviz graph for `vfu graph`.

#include "DefinitionDocuments.h"

#include "core/Environment.h"
#include "definitions/DefinitionGraph.h"
#include "definitions/InbuiltDefinitions.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

using namespace vfu::test;
using vfu::definitions::writeDefinitionGraph;

namespace
{
std::unique_ptr<FirmwareUpdater> load (const juce::String& text, const juce::String& device = "Quillbox")
{
    return std::make_unique<FirmwareUpdater> (text, device, false, nullptr, juce::Array<juce::File>(),
                                              withoutProgramArchive());
}

int countLinesContaining (const juce::String& text, const juce::String& part)
{
    int count = 0;

    for (const auto& line : juce::StringArray::fromLines (text))
        if (line.contains (part))
            ++count;

    return count;
}
} // namespace

TEST (DefinitionGraph, draws_every_kind_of_transition_with_its_label_and_style)
{
    const auto updater = load (documentWithStates (R"xml(<State name="Idle" pollingMode="MIDI Device inquiry">
  <TextField name="InstructionsField" text="Connect the   instrument
and power it on, then wait until it is found"/>
  <PollingState value="Device detected" gotoState="Say &quot;hi&quot;"/>
  <PollingState value="Bootloader detected" gotoState="Say &quot;hi&quot;"/>
  <Button name="InstallCancel" text="Install" state="enabled" gotoState="Send"/>
</State>
<State name="Say &quot;hi&quot;" pollingMode="none">
  <Check name="versionNumber" value="true"><GotoState state="Idle"/></Check>
  <GotoState state="Gone"/>
</State>
<State name="Send" pollingMode="MIDI ports" timeoutState="Say &quot;hi&quot;">
  <SendSysEx messageKind="fw-$(version)" endPollingMode="MIDI Device inquiry">
    <PollingState value="Device detected" gotoState="Idle"/>
  </SendSysEx>
  <PollingState value="Panel erased" gotoState="Idle"/>
</State>)xml"));

    const auto dot = writeDefinitionGraph (*updater);

    EXPECT_TRUE (dot.startsWith ("digraph \"Quillbox\" {"));
    EXPECT_TRUE (dot.trimEnd().endsWith ("}"));

    // Nodes: name, polling mode and the instructions shortened; the initial one marked.
    EXPECT_TRUE (dot.contains (
        R"dot("Idle" [label="Idle\n[MIDI Device inquiry]\nConnect the instrument and power it o...", penwidth=2.5];)dot"))
        << dot;
    EXPECT_TRUE (dot.contains (R"dot("start" -> "Idle";)dot"));
    EXPECT_TRUE (dot.contains (R"dot("Say \"hi\"" [label="Say \"hi\"\n[none]"];)dot"));

    // Parallel results share one edge; buttons by caption; GotoState with its Check; transfers;
    // time-outs dashed; a missing target drawn in red; a result never produced greyed out.
    EXPECT_TRUE (
        dot.contains (R"dot("Idle" -> "Say \"hi\"" [label="device detected, bootloader detected", color=black];)dot"));
    EXPECT_TRUE (dot.contains (R"dot("Idle" -> "Send" [label="[Install]", color=blue)dot"));
    EXPECT_TRUE (
        dot.contains (R"dot("Say \"hi\"" -> "Idle" [label="GotoState if versionNumber is true", color=darkgreen)dot"));
    EXPECT_TRUE (dot.contains (R"dot("Say \"hi\"" -> "Gone" [label="GotoState", color=darkgreen)dot"));
    EXPECT_TRUE (dot.contains (R"dot("Gone" [label="Gone\n(no such state)", style=dashed, color=red)dot"));
    EXPECT_TRUE (dot.contains (R"dot("Send" -> "Idle" [label="after transfer: device detected", color=purple)dot"));
    EXPECT_TRUE (dot.contains (
        R"dot("Send" -> "Say \"hi\"" [label="time-out 45 s", color=gray40, fontcolor=gray40, style=dashed];)dot"));
    EXPECT_TRUE (dot.contains (R"dot("Idle" -> "Idle" [label="time-out 45 s")dot"));
    EXPECT_TRUE (dot.contains (R"dot("Send" -> "Idle" [label="panel erased (never taken)", color=gray70)dot"));

    // A state polling nothing has no time-out edge.
    EXPECT_FALSE (dot.contains (R"dot("Say \"hi\"" -> "Idle" [label="time-out)dot"));
}

TEST (DefinitionGraph, draws_every_state_of_each_inbuilt_model)
{
    for (const auto& [device, states] :
         { std::pair<const char*, int>{ "Lumostrel", 13 }, { "Orb 26", 17 }, { "Quillbox", 13 } })
    {
        const auto dot = writeDefinitionGraph (*load (vfu::definitions::getInbuiltDefinitions(), device));
        EXPECT_EQ (countLinesContaining (dot, "[label=\"") - countLinesContaining (dot, " -> "), states) << device;
        EXPECT_EQ (countLinesContaining (dot, "penwidth=2.5"), 1);
        EXPECT_EQ (countLinesContaining (dot, "no such state"), 0);
    }
}

TEST (DefinitionGraph, renders_svg_and_png_with_graphviz_when_it_is_installed)
{
    const auto dotProgram = vfu::definitions::findGraphvizDot();
    if (dotProgram == juce::File())
        GTEST_SKIP() << "Graphviz's dot is not installed";

    const auto graph = writeDefinitionGraph (*load (vfu::definitions::getInbuiltDefinitions(), "Orb 26"));
    juce::MemoryBlock svg, png;
    juce::String error;

    ASSERT_TRUE (vfu::definitions::renderWithGraphviz (dotProgram, graph, "svg", svg, error)) << error;
    EXPECT_TRUE (svg.toString().contains ("<svg"));
    EXPECT_TRUE (svg.toString().contains ("Waiting for reattach, DSP check"));

    ASSERT_TRUE (vfu::definitions::renderWithGraphviz (dotProgram, graph, "png", png, error)) << error;
    ASSERT_GT (png.getSize(), 8u);
    EXPECT_EQ (std::memcmp (png.getData(), "\x89PNG", 4), 0);

    // What dot refuses is reported with its own message.
    EXPECT_FALSE (vfu::definitions::renderWithGraphviz (dotProgram, "digraph {", "svg", svg, error));
    EXPECT_TRUE (error.contains ("failed")) << error;
}

TEST (DefinitionGraph, finds_no_graphviz_on_a_path_without_it)
{
    const auto folder = createTemporaryFolder ("no-graphviz");
    const auto savedPath = juce::SystemStats::getEnvironmentVariable ("PATH", {});

#if JUCE_WINDOWS
    const auto separator = ";";
#else
    const auto separator = ":";
#endif
    vfu::setEnvironmentVariable ("PATH", folder.getFullPathName() + separator + "relative/bin");
    const auto found = vfu::definitions::findGraphvizDot();
    vfu::setEnvironmentVariable ("PATH", savedPath);

    EXPECT_EQ (found, juce::File());
}

TEST (DefinitionGraph, abbreviates_text_on_word_runs_and_length)
{
    EXPECT_EQ (vfu::definitions::abbreviateText ("  a\r\n  b\tc ", 10), "a b c");
    EXPECT_EQ (vfu::definitions::abbreviateText ("Installing firmware...", 12), "Installin...");
    EXPECT_EQ (vfu::definitions::abbreviateText ("", 12), "");
}
