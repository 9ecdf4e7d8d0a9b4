// The vfu executable as a user runs it: option forms, help for every command, usage errors.
#include "support/TestEnvironment.h"
#include "vfu/VfuProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace
{
using Outcome = vfu::test::VfuRun;
using vfu::test::runVfu;

juce::File writeBrokenDocument()
{
    auto file = vfu::test::createTemporaryFolder ("vfu-cli").getChildFile ("StateMachines.xml");
    file.replaceWithText ("<FirmwareUpdaters><FirmwareUpdater name=\"Quillbox\"></FirmwareUpdaters>");
    return file;
}
} // namespace

TEST (VfuCommandLine, takes_an_option_value_in_either_form)
{
    const auto document = writeBrokenDocument().getFullPathName();

    // Both forms reach the loader, which rejects this document (exit 1), instead of a usage error.
    for (auto arguments : { juce::StringArray{ "run", "--simulate", "quillbox", "--definitions", document },
                            juce::StringArray{ "run", "--simulate=quillbox", "--definitions=" + document } })
    {
        const auto outcome = runVfu (arguments);
        EXPECT_EQ (outcome.exitCode, 1) << outcome.output;
        EXPECT_TRUE (outcome.output.contains ("The app will quit.")) << outcome.output;
    }

    for (auto arguments : { juce::StringArray{ "check-definitions", "--device", "Orb 26" },
                            juce::StringArray{ "check-definitions", "--device=Orb 26" } })
    {
        const auto outcome = runVfu (arguments);
        EXPECT_EQ (outcome.exitCode, 0) << outcome.output;
        EXPECT_TRUE (outcome.output.contains ("'Orb 26'")) << outcome.output;
    }
}

TEST (VfuCommandLine, gives_help_with_options_and_exit_codes_for_every_command)
{
    const auto overview = runVfu ({ "--help" });
    ASSERT_EQ (overview.exitCode, 0);

    for (auto command : { "check-definitions", "dump-definitions", "decode-reply", "version-number", "format-version",
                          "poll", "ports", "make-image", "pack", "packages", "run", "lint", "graph" })
    {
        SCOPED_TRACE (command);
        EXPECT_TRUE (overview.output.contains (command));

        const auto help = runVfu ({ command, "--help" });
        EXPECT_EQ (help.exitCode, 0);
        EXPECT_TRUE (help.output.contains (juce::String ("Usage: vfu ") + command)) << help.output;
        EXPECT_TRUE (help.output.contains ("Exit codes:")) << help.output;
    }
}

TEST (VfuCommandLine, names_what_is_wrong_in_a_usage_error_and_exits_2)
{
    const auto unknownOption = runVfu ({ "run", "--simulate", "quillbox", "--bogus" });
    EXPECT_EQ (unknownOption.exitCode, 2);
    EXPECT_TRUE (unknownOption.output.contains ("--bogus")) << unknownOption.output;

    const auto missing = runVfu ({ "run" });
    EXPECT_EQ (missing.exitCode, 2);
    EXPECT_TRUE (missing.output.contains ("--simulate")) << missing.output;

    const auto unknownCommand = runVfu ({ "flash" });
    EXPECT_EQ (unknownCommand.exitCode, 2);
    EXPECT_TRUE (unknownCommand.output.contains ("Unknown command: flash")) << unknownCommand.output;

    const auto noValue = runVfu ({ "check-definitions", "--device" });
    EXPECT_EQ (noValue.exitCode, 2);
    EXPECT_TRUE (noValue.output.contains ("--device")) << noValue.output;
}

TEST (VfuCommandLine, number_options_show_their_kind_and_range_and_refuse_other_values_with_exit_2)
{
    const auto help = runVfu ({ "run", "--help" });
    EXPECT_TRUE (help.output.contains ("--speed FLOAT in [0.01 - 10000]=1")) << help.output;
    EXPECT_TRUE (help.output.contains ("--limit FLOAT in [0 - 10000000]=600")) << help.output;
    EXPECT_TRUE (runVfu ({ "poll", "--help" }).output.contains ("--times INT in [1 - 999999]=1"));

    struct Case
    {
        juce::StringArray arguments;
        const char* expected;
    };

    // Text, out of range, a fraction where a count is wanted, trailing junk: each named, nothing run.
    for (const auto& c :
         { Case{ { "run", "--simulate", "quillbox", "--speed", "fast" },
                 "--speed: takes a number from 0.01 to 10000, not \"fast\"" },
           Case{ { "run", "--simulate", "quillbox", "--speed", "0" }, "--speed: takes a number from 0.01 to 10000" },
           Case{ { "poll", "--simulate", "quillbox", "--mode", "none", "--times", "1.5" },
                 "--times: takes a whole number from 1 to 999999" },
           Case{ { "make-image", "--model", "quillbox", "--version", "2.2.1", "--size", "1000x", "-o", "x.syx" },
                 "--size: takes a whole number from 14" },
           Case{ { "update", "--timeout=-5" }, "--timeout: takes a number from 0 to 1000000" },
           // Plain decimals only: the commands read what was checked, and strtod alone
           // would take an exponent, hexadecimal or a sign.
           Case{ { "run", "--simulate", "quillbox", "--speed", "1e1" },
                 "--speed: takes a number from 0.01 to 10000, not \"1e1\"" },
           Case{ { "simulate", "quillbox", "--speed", "0x10" },
                 "--speed: takes a number from 0.01 to 10000, not \"0x10\"" },
           Case{ { "poll", "--simulate", "quillbox", "--mode", "none", "--extra-ports", "+1" },
                 "--extra-ports: takes a whole number from 0 to 999999" },
           // The one bound the range does not say.
           Case{ { "update", "--timeout", "0" }, "--timeout takes a number of seconds above 0, not \"0\"" } })
    {
        const auto outcome = runVfu (c.arguments);
        EXPECT_EQ (outcome.exitCode, 2) << c.arguments.joinIntoString (" ") << "\n" << outcome.output;
        EXPECT_TRUE (outcome.output.contains (c.expected)) << outcome.output;
    }

    // Values inside the range go through to the command.
    const auto run = runVfu ({ "run", "--simulate", "quillbox", "--speed", "100", "--limit", "0.5" });
    EXPECT_EQ (run.exitCode, 1) << "the time limit, not a usage error: " << run.output;
}

TEST (VfuCommandLine, keeps_an_empty_argument_and_repeated_options)
{
    // An empty text is a version text like any other: one line out for each one in. ChildProcess
    // drops empty arguments, so this one goes through the shell.
    const auto output = vfu::test::createTemporaryFolder ("vfu-cli-empty").getChildFile ("out.txt");
    auto command = "\"" + juce::File (VFU_TOOL_FILE).getFullPathName() + "\" version-number \"\" 2.2.1 > \"" +
                   output.getFullPathName() + "\"";
#if JUCE_WINDOWS
    // cmd.exe drops the first and the last quote of a command that holds more than two.
    command = "\"" + command + "\"";
#endif
    EXPECT_EQ (std::system (command.toRawUTF8()), 0);
    EXPECT_EQ (juce::StringArray::fromLines (output.loadFileAsString().trim()).size(), 2) << output.loadFileAsString();

    // A repeated option takes one value each time and leaves the positional arguments alone.
    const auto folder = vfu::test::createTemporaryFolder ("vfu-cli-pack");
    const auto image = folder.getChildFile ("q.syx").getFullPathName();
    ASSERT_EQ (
        runVfu ({ "make-image", "--model", "quillbox", "--version", "2.2.1", "--size", "1000", "-o", image }).exitCode,
        0);
    const auto pack = runVfu (
        { "pack", "--name", "quillbox-fw-2.2.1", image, "-o", folder.getChildFile ("q.vfw").getFullPathName() });
    EXPECT_EQ (pack.exitCode, 0) << pack.output;
    EXPECT_TRUE (pack.output.contains ("1 image(s); version 2.2.1")) << pack.output;
}
