// vfu run as a user runs it, given signals in the middle of the update: the guarded phase holds
// them as vfu update does (the same GuardedSignals), whatever the simulation's clock speed.
#include "support/TestEnvironment.h"

#include "packages/DeliveredPackage.h"

#include <gtest/gtest.h>

#if !JUCE_WINDOWS
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace
{
// vfu in the background with its output (both streams) in a file, so that signals reach it.
struct Spawned
{
    explicit Spawned (const juce::StringArray& arguments)
    {
        output = vfu::test::createTemporaryFolder ("vfu-signals").getChildFile ("output.txt");
        std::vector<std::string> strings{ VFU_TOOL_FILE };
        for (auto& argument : arguments)
            strings.push_back (argument.toStdString());
        std::vector<char*> argv;
        for (auto& s : strings)
            argv.push_back (s.data());
        argv.push_back (nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init (&actions);
        posix_spawn_file_actions_addopen (&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen (&actions, 1, output.getFullPathName().toRawUTF8(),
                                          O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2 (&actions, 1, 2);
        if (posix_spawn (&pid, VFU_TOOL_FILE, &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy (&actions);
    }

    ~Spawned()
    {
        if (pid > 0 && exitCode < 0)
        {
            kill (pid, SIGKILL); // only when a test already failed: it did not end by itself
            waitpid (pid, nullptr, 0);
        }
    }

    bool waitForOutput (const juce::String& text, int milliseconds) const
    {
        for (auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;
             juce::Time::getMillisecondCounter() < end; juce::Thread::sleep (10))
            if (getOutput().contains (text))
                return true;
        return false;
    }

    bool waitForEnd (int milliseconds)
    {
        for (auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;
             juce::Time::getMillisecondCounter() < end; juce::Thread::sleep (20))
        {
            int status = 0;
            if (waitpid (pid, &status, WNOHANG) == pid)
            {
                exitCode = WIFEXITED (status) ? WEXITSTATUS (status) : 128 + WTERMSIG (status);
                return true;
            }
        }
        return false;
    }

    juce::String getOutput() const { return output.loadFileAsString(); }

    juce::File output;
    pid_t pid = -1;
    int exitCode = -1;
};

// A whole simulated Quillbox update at 20 times real speed: the transfer takes about 7 s.
juce::StringArray runArguments()
{
    const auto package =
        vfu::test::createTemporaryFolder ("vfu-signals-package").getChildFile (vfu::DeliveredPackage::packageFileName);
    const auto data = vfu::DeliveredPackage::createPackage();
    package.replaceWithData (data.getData(), data.getSize());
    return { "run", "--simulate", "quillbox:2.1.0", "--speed", "20", "--package", package.getFullPathName() };
}

const juce::String guardBegun = "\"guarded\": true";
} // namespace

TEST (VfuRunSignals, a_first_Ctrl_C_in_the_guarded_phase_warns_and_a_second_within_3_seconds_stops_it)
{
    Spawned vfu (runArguments());
    ASSERT_GT (vfu.pid, 0);
    ASSERT_TRUE (vfu.waitForOutput (guardBegun, 60000)) << vfu.getOutput();

    kill (vfu.pid, SIGINT);
    ASSERT_TRUE (vfu.waitForOutput ("An update is in progress. Press Ctrl-C again within 3 seconds", 10000))
        << vfu.getOutput();
    EXPECT_FALSE (vfu.waitForEnd (500)) << vfu.getOutput(); // the update goes on

    kill (vfu.pid, SIGINT);
    ASSERT_TRUE (vfu.waitForEnd (20000)) << vfu.getOutput();
    EXPECT_EQ (vfu.exitCode, 1) << vfu.getOutput();
    EXPECT_TRUE (vfu.getOutput().contains ("the instrument is left in its bootloader; running the update again "
                                           "restores it"))
        << vfu.getOutput();
    EXPECT_FALSE (vfu.getOutput().contains ("Update completed successfully.")) << vfu.getOutput();
}

TEST (VfuRunSignals, SIGTERM_in_the_guarded_phase_waits_for_the_verdict_and_outside_it_stops_at_once)
{
    {
        Spawned vfu (runArguments());
        ASSERT_GT (vfu.pid, 0);
        ASSERT_TRUE (vfu.waitForOutput (guardBegun, 60000)) << vfu.getOutput();
        kill (vfu.pid, SIGTERM);
        ASSERT_TRUE (vfu.waitForOutput ("the request to end waits for the update's verdict", 10000)) << vfu.getOutput();

        ASSERT_TRUE (vfu.waitForEnd (120000)) << vfu.getOutput();
        EXPECT_TRUE (vfu.getOutput().contains ("Update completed successfully.")) << vfu.getOutput();
        // What the whole image takes on a real run's clock, although this one runs 20 times faster.
        EXPECT_TRUE (vfu.getOutput().contains ("\"secondsLeft\": 137.532}")) << vfu.getOutput();
        EXPECT_EQ (vfu.exitCode, 0) << vfu.getOutput();
    }
    {
        Spawned vfu (runArguments());
        ASSERT_GT (vfu.pid, 0);
        ASSERT_TRUE (vfu.waitForOutput ("\"state\": \"Idle, device detected\"", 60000)) << vfu.getOutput();
        kill (vfu.pid, SIGTERM);
        ASSERT_TRUE (vfu.waitForEnd (10000)) << vfu.getOutput();
        EXPECT_EQ (vfu.exitCode, 1) << vfu.getOutput();
        EXPECT_FALSE (vfu.getOutput().contains (guardBegun)) << vfu.getOutput();
    }
}
#endif
