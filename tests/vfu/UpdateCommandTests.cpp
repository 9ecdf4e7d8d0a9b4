// vfu update and vfu ports as a user runs them: on this machine's MIDI system (none in the build
// container), with small definition documents that reach an error state or an offered button
// without an instrument.
#include "support/TestEnvironment.h"
#include "vfu/VfuProcess.h"

#include "packages/DeliveredPackage.h"

#include <gtest/gtest.h>

#if !JUCE_WINDOWS
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace
{
using Finished = vfu::test::VfuRun;
using vfu::test::runVfu;

// A folder with the delivered package and a Quillbox document whose initial state is `state`.
juce::File writeUpdateFolder (const juce::String& prefix, const juce::String& state)
{
    const auto folder = vfu::test::createTemporaryFolder (prefix);
    const auto package = vfu::DeliveredPackage::createPackage();
    folder.getChildFile (vfu::DeliveredPackage::packageFileName).replaceWithData (package.getData(), package.getSize());
    folder.getChildFile ("StateMachines.xml")
        .replaceWithText (
            "<FirmwareUpdaters>\n"
            "  <FirmwareUpdater deviceName=\"Quillbox\" communicationMode=\"MIDI\" MIDIDeviceID=\"0008\"\n"
            "      fileNamePattern=\"quillbox-fw-\" SHA256Check=\"true\" consoleMode=\"false\"\n"
            "      initialState=\"Start\" timeout=\"45\" timeoutState=\"Start\">\n"
            "    <State name=\"Start\" pollingMode=\"none\">\n"
            "      <GotoState state=\"" +
            state +
            "\"/>\n"
            "    </State>\n"
            // The definitions' texts carry CR LF line ends.
            "    <State name=\"Error, no device\" pollingMode=\"MIDI Device inquiry\">\n"
            "      <TextField name=\"InstructionsField\" text=\"Reconnect it.&#13;&#10;Then try again.\"/>\n"
            "      <Button name=\"InstallCancel\" text=\"Cancel\" state=\"disabled\"/>\n"
            "    </State>\n"
            "    <State name=\"Ready\" pollingMode=\"none\">\n"
            "      <Button name=\"InstallCancel\" text=\"Install\" state=\"enabled\" gotoState=\"Start\"/>\n"
            "    </State>\n"
            "  </FirmwareUpdater>\n"
            "</FirmwareUpdaters>\n");
    return folder;
}

juce::StringArray updateArguments (const juce::File& folder, const juce::String& timeoutSeconds, bool yes = false)
{
    juce::StringArray arguments{ "update",
                                 "--definitions",
                                 folder.getChildFile ("StateMachines.xml").getFullPathName(),
                                 "--package",
                                 folder.getChildFile (vfu::DeliveredPackage::packageFileName).getFullPathName(),
                                 "--timeout",
                                 timeoutSeconds };
    if (yes)
        arguments.add ("--yes");
    return arguments;
}

bool hasMidiSystem()
{
#if JUCE_LINUX
    return juce::File ("/dev/snd/seq").exists();
#else
    return true;
#endif
}
} // namespace

TEST (VfuUpdate, ends_at_once_in_an_error_state_with_its_instructions_on_one_line)
{
    const auto folder = writeUpdateFolder ("vfu-update-error", "Error, no device");
    const auto finished = runVfu (updateArguments (folder, "60", true));

    // Windows' text streams end each line with CR LF, as its consoles expect; no other CR may be left.
    auto output = finished.output;
#if JUCE_WINDOWS
    output = output.replace ("\r\n", "\n");
#endif

    EXPECT_EQ (finished.exitCode, 1) << output;
    EXPECT_LT (finished.seconds, 30.0) << output; // not at the time limit
    EXPECT_TRUE (output.contains ("instructions: Reconnect it. / Then try again.\n")) << output;
    EXPECT_TRUE (output.contains ("result: failed: reached \"Error, no device\": Reconnect it. / Then try again."))
        << output;
    EXPECT_FALSE (output.containsChar ('\r')) << output;

    // Without a MIDI system no instrument could have been found: the result line says why.
    if (!hasMidiSystem())
    {
        EXPECT_TRUE (output.contains ("Then try again.; MIDI system not available (")) << output;
    }
}

TEST (VfuUpdate, json_lines_keep_their_keys_in_order_as_scripts_read_them)
{
    // The same printer serves vfu run: the lines are compared whole, spaces and key order included.
    const auto folder = writeUpdateFolder ("vfu-update-json", "Error, no device");
    auto arguments = updateArguments (folder, "60", true);
    arguments.add ("--json");
    const auto finished = runVfu (arguments);
    const auto lines = juce::StringArray::fromLines (finished.output.replace ("\r\n", "\n"));

    EXPECT_EQ (finished.exitCode, 1) << finished.output;
    for (
        const auto* line :
        { R"({"report": "stateChanged", "previous": "Start", "state": "Error, no device"})",
          R"({"report": "progressChanged", "fraction": 0.0, "secondsLeft": 0.0})",
          R"({"report": "textFieldChanged", "name": "InstructionsField", "text": "Reconnect it.\r\nThen try again.", "visible": true})",
          R"({"report": "buttonChanged", "name": "InstallCancel", "text": "Cancel", "enabled": false})" })
        EXPECT_TRUE (lines.contains (line)) << line << "\n" << finished.output;
    juce::String result;
    for (const auto& line : lines)
        if (line.startsWith (R"({"result": "failed", "reason": "reached \"Error, no device\": )"))
            result = line;
    EXPECT_TRUE (result.endsWith (R"(, "installed": "", "package": "2.2.1", "exitCode": 1})")) << finished.output;
}

#if JUCE_LINUX
TEST (VfuPorts, says_on_standard_error_that_there_is_no_MIDI_system_and_keeps_its_JSON)
{
    if (hasMidiSystem())
        GTEST_SKIP() << "this machine has a MIDI system";

    const auto folder = vfu::test::createTemporaryFolder ("vfu-ports");
    const auto out = folder.getChildFile ("out.txt"), err = folder.getChildFile ("err.txt");
    const auto command = "\"" + juce::String (VFU_TOOL_FILE) + "\" ports > \"" + out.getFullPathName() + "\" 2> \"" +
                         err.getFullPathName() + "\"";
    EXPECT_EQ (std::system (command.toRawUTF8()), 0);
    const auto listing = juce::JSON::parse (out.loadFileAsString());
    ASSERT_TRUE (listing.isObject()) << out.loadFileAsString();
    EXPECT_EQ (listing["inputs"].size(), 0);
    EXPECT_EQ (listing["outputs"].size(), 0);
    EXPECT_TRUE (listing["inputs"].isArray() && listing["outputs"].isArray()) << out.loadFileAsString();
    EXPECT_TRUE (err.loadFileAsString().startsWith ("MIDI system not available (")) << err.loadFileAsString();
}
#endif

#if !JUCE_WINDOWS
namespace
{
// vfu with a pseudo-terminal as standard input (so that it asks), its output into a file. The
// terminal's other end stays open and silent: nobody answers.
struct OnTerminal
{
    explicit OnTerminal (const juce::StringArray& arguments)
    {
        output = vfu::test::createTemporaryFolder ("vfu-terminal").getChildFile ("output.txt");
        terminal = posix_openpt (O_RDWR | O_NOCTTY);
        if (terminal < 0 || grantpt (terminal) != 0 || unlockpt (terminal) != 0)
            return;

        std::vector<std::string> strings{ VFU_TOOL_FILE };
        for (auto& argument : arguments)
            strings.push_back (argument.toStdString());
        std::vector<char*> argv;
        for (auto& s : strings)
            argv.push_back (s.data());
        argv.push_back (nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init (&actions);
        posix_spawn_file_actions_addopen (&actions, 0, ptsname (terminal), O_RDWR | O_NOCTTY, 0);
        posix_spawn_file_actions_addopen (&actions, 1, output.getFullPathName().toRawUTF8(),
                                          O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2 (&actions, 1, 2);
        if (posix_spawn (&pid, VFU_TOOL_FILE, &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy (&actions);
    }

    ~OnTerminal()
    {
        if (pid > 0 && exitCode < 0)
        {
            kill (pid, SIGKILL); // only when a test already failed: it did not end by itself
            waitpid (pid, nullptr, 0);
        }
        if (terminal >= 0)
            close (terminal);
    }

    bool waitForOutput (const juce::String& text, int milliseconds) const
    {
        for (auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;
             juce::Time::getMillisecondCounter() < end; juce::Thread::sleep (20))
            if (output.loadFileAsString().contains (text))
                return true;
        return false;
    }

    // True when vfu ended within `milliseconds`; its exit code is then in exitCode.
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
    int terminal = -1;
    pid_t pid = -1;
    int exitCode = -1;
};
} // namespace

TEST (VfuUpdate, a_question_nobody_answers_ends_at_the_time_limit_or_on_an_interrupt)
{
    const auto folder = writeUpdateFolder ("vfu-update-question", "Ready");
    {
        OnTerminal vfu (updateArguments (folder, "2"));
        ASSERT_GT (vfu.pid, 0);
        ASSERT_TRUE (vfu.waitForEnd (20000)) << vfu.getOutput();
        EXPECT_EQ (vfu.exitCode, 3) << vfu.getOutput();
        EXPECT_TRUE (vfu.getOutput().contains ("Press \"Install\"? [y/N]")) << vfu.getOutput();
        EXPECT_TRUE (vfu.getOutput().contains ("result: timed out")) << vfu.getOutput();
    }

    for (int signal : { SIGINT, SIGTERM })
    {
        SCOPED_TRACE (signal);
        OnTerminal vfu (updateArguments (folder, "600"));
        ASSERT_GT (vfu.pid, 0);
        ASSERT_TRUE (vfu.waitForOutput ("[y/N]", 20000)) << vfu.getOutput();
        kill (vfu.pid, signal);
        ASSERT_TRUE (vfu.waitForEnd (10000)) << vfu.getOutput();
        EXPECT_EQ (vfu.exitCode, 1) << vfu.getOutput();
        EXPECT_TRUE (vfu.getOutput().contains ("result: interrupted")) << vfu.getOutput();
    }
}
#endif
