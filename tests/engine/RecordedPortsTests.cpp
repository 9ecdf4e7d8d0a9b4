// --record's wiring, as the app and vfu update use it.
#include "support/TestEnvironment.h"

#include "core/Clock.h"
#include "engine/RecordedPorts.h"
#include "midi/VirtualMidiLayer.h"

#include <gtest/gtest.h>

TEST (RecordedPorts, records_through_the_environments_selector_and_leaves_it_alone_when_the_file_cannot_be_written)
{
    vfu::ScaledClock clock (1.0);
    vfu::VirtualMidiLayer layer (clock);
    layer.addPorts ("Quillbox");
    MIDIPortsSelector shipped (layer, clock);
    vfu::UpdaterEnvironment environment;
    environment.portsSelector = &shipped;

    juce::String problem;
    const auto folder = vfu::test::createTemporaryFolder ("recorded-ports");
    EXPECT_EQ (
        vfu::RecordedPorts::wrap (environment, folder.getChildFile ("missing/x.jsonl"), "vfu 1", "Quillbox", problem),
        nullptr);
    EXPECT_TRUE (problem.isNotEmpty());
    EXPECT_EQ (environment.portsSelector, &shipped);

    const auto file = folder.getChildFile ("ports.jsonl");
    {
        auto recorded = vfu::RecordedPorts::wrap (environment, file, "vfu 1", "Quillbox", problem);
        ASSERT_NE (recorded, nullptr) << problem;
        ASSERT_NE (environment.portsSelector, &shipped);
        EXPECT_EQ (&environment.portsSelector->getClock(), &clock);
        EXPECT_EQ (environment.portsSelector->getMidiLayer().getInputNames(), juce::StringArray ("Quillbox"));
    }

    // The recording names the program and model given, and the ports it was shown.
    const auto text = file.loadFileAsString();
    EXPECT_TRUE (text.contains ("\"program\":\"vfu 1\"") && text.contains ("\"model\":\"Quillbox\"")) << text;
    EXPECT_TRUE (text.contains ("\"inputs\":[\"Quillbox\"]")) << text;
}
