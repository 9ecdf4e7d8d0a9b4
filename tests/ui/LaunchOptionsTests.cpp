#include <gtest/gtest.h>

#include "ui/LaunchOptions.h"

TEST (LaunchOptions, without_switches_the_app_is_the_shipped_updater)
{
    const auto options = LaunchOptions::parse ({});
    EXPECT_FALSE (options.simulate);
    EXPECT_EQ (options.speed, 1.0);
    EXPECT_EQ (options.quitAfterSeconds, 0.0);
    EXPECT_FALSE (options.exitWhenDone);
    EXPECT_EQ (options.screenshotFile, juce::File());
    EXPECT_TRUE (options.instanceLockName.isEmpty()) << "the lock every copy shares";
    EXPECT_TRUE (options.problems.isEmpty());
}

TEST (LaunchOptions, reads_the_demonstration_switches)
{
    const auto options = LaunchOptions::parse ({ "--simulate=quillbox:bootloader", "--speed", "20", "--exit-when-done",
                                                 "--quit-after", "90", "--screenshot", "shots/end.png" });

    EXPECT_TRUE (options.simulate);
    EXPECT_EQ (options.simulationSpec, "quillbox:bootloader");
    EXPECT_EQ (options.speed, 20.0);
    EXPECT_TRUE (options.exitWhenDone);
    EXPECT_EQ (options.quitAfterSeconds, 90.0);
    EXPECT_EQ (options.screenshotFile, juce::File::getCurrentWorkingDirectory().getChildFile ("shots/end.png"));
    EXPECT_TRUE (options.problems.isEmpty());
}

TEST (LaunchOptions, simulate_without_a_spec_uses_a_Quillbox_with_2_1_0)
{
    EXPECT_EQ (LaunchOptions::parse ({ "--simulate" }).simulationSpec, "quillbox:2.1.0");
    EXPECT_EQ (LaunchOptions::parse ({ "--simulate=" }).simulationSpec, "quillbox:2.1.0");
    EXPECT_TRUE (LaunchOptions::parse ({ "--simulate=" }).simulate);
}

TEST (LaunchOptions, reports_bad_values_and_unknown_switches_and_keeps_the_defaults)
{
    const auto options = LaunchOptions::parse ({ "--speed", "0", "--quit-after", "soon", "--fast", "--screenshot" });

    EXPECT_EQ (options.speed, 1.0) << "the real clock stays";
    EXPECT_EQ (options.quitAfterSeconds, 0.0);
    EXPECT_EQ (options.screenshotFile, juce::File());
    EXPECT_EQ (options.problems.size(), 4) << options.problems.joinIntoString ("; ");
}

TEST (LaunchOptions, takes_a_private_instance_lock_name_and_refuses_one_that_is_not_a_plain_file_name)
{
    EXPECT_EQ (LaunchOptions::parse ({ "--instance-lock", "window-test_1.a" }).instanceLockName, "window-test_1.a");

    for (auto bad : { "../elsewhere", "a/b", ".hidden", "two words" })
    {
        const auto options = LaunchOptions::parse ({ "--instance-lock", bad });
        EXPECT_TRUE (options.instanceLockName.isEmpty()) << bad;
        ASSERT_EQ (options.problems.size(), 1) << bad;
        EXPECT_TRUE (options.problems[0].contains ("--instance-lock")) << options.problems[0];
    }

    EXPECT_EQ (LaunchOptions::parse ({ "--instance-lock" }).problems.size(), 1);
}
