// vfu simulate's choice of a kernel rawmidi device (--rawmidi) and its errors.
#include "vfu/VfuProcess.h"

#include <gtest/gtest.h>

using vfu::test::runVfu;

TEST (VfuSimulate, a_rawmidi_device_that_cannot_be_opened_ends_it_with_the_device_named_and_exit_1)
{
    const auto run = runVfu ({ "simulate", "quillbox:2.1.0", "--rawmidi", "hw:97,0" }, 30000);
    EXPECT_EQ (run.exitCode, 1) << run.output;
#if JUCE_LINUX
    EXPECT_TRUE (run.output.contains ("Cannot open the rawmidi device \"hw:97,0\": ")) << run.output;
#else
    EXPECT_TRUE (run.output.contains ("not available on this system")) << run.output;
#endif
    EXPECT_FALSE (run.output.contains ("summary:")) << run.output;
}

TEST (VfuSimulate, refuses_an_empty_rawmidi_device_and_a_port_name_beside_one_with_exit_2)
{
    const auto empty = runVfu ({ "simulate", "quillbox:2.1.0", "--rawmidi", " " }, 30000);
    EXPECT_EQ (empty.exitCode, 2) << empty.output;
    EXPECT_TRUE (empty.output.contains ("--rawmidi needs a device name")) << empty.output;

    const auto named = runVfu ({ "simulate", "quillbox:2.1.0", "--rawmidi", "hw:1,0", "--port-name", "Other" }, 30000);
    EXPECT_EQ (named.exitCode, 2) << named.output;
    EXPECT_TRUE (named.output.contains ("--port-name does not go with --rawmidi")) << named.output;
}
