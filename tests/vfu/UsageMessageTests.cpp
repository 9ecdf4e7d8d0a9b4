// How vfu speaks when something is wrong: unknown options and commands named in one form, help as
// other tools give it, device models and folders refused with what would do, rejected packages
// named before the run fails, and errors kept off standard output.
#include "support/TestEnvironment.h"
#include "vfu/VfuProcess.h"

#include "packages/DeliveredPackage.h"

#include <gtest/gtest.h>

using vfu::test::runVfu;

TEST (VfuUsage, names_an_unknown_option_or_command_in_one_form_and_gives_help_by_command)
{
    struct Case
    {
        juce::StringArray arguments;
        const char* expected;
    };

    for (const auto& c :
         { Case{ { "--versoin" }, "unknown option --versoin\n(see vfu --help)" },
           Case{ { "flash" }, "Unknown command: flash\n(see vfu --help)" },
           Case{ { "run", "--simulate", "quillbox", "--bogus" }, "unknown option --bogus\n(see vfu run --help)" },
           Case{ { "run" }, "(see vfu run --help)" },
           Case{ { "check-definitions", "--device" }, "(see vfu check-definitions --help)" },
           Case{ { "help", "flash" }, "Unknown command: flash\n(see vfu help --help)" } })
    {
        const auto outcome = runVfu (c.arguments);
        EXPECT_EQ (outcome.exitCode, 2) << c.arguments.joinIntoString (" ");
        // Windows' console writes CR LF line ends.
        EXPECT_TRUE (outcome.output.replace ("\r\n", "\n").contains (c.expected)) << outcome.output;
        EXPECT_FALSE (outcome.output.contains ("Run with --help")) << outcome.output;
    }

    const auto version = runVfu ({ "--version" });
    EXPECT_EQ (version.exitCode, 0);
    EXPECT_EQ (version.output.trim(), "vfu 2.2.0");

    const auto help = runVfu ({ "help", "run" });
    EXPECT_EQ (help.exitCode, 0);
    EXPECT_EQ (help.output, runVfu ({ "run", "--help" }).output);
    EXPECT_EQ (runVfu ({ "help" }).output, runVfu ({ "--help" }).output);
}

TEST (VfuUsage, refuses_an_unknown_device_model_listing_the_known_ones_and_a_folder_for_a_document)
{
    for (auto arguments : { juce::StringArray{ "check-definitions", "--device", "Nope" },
                            juce::StringArray{ "run", "--simulate", "quillbox", "--device", "Nope" },
                            juce::StringArray{ "packages", "--device", "Nope" } })
    {
        const auto outcome = runVfu (arguments);
        EXPECT_EQ (outcome.exitCode, 2) << arguments.joinIntoString (" ");
        EXPECT_TRUE (outcome.output.contains ("Unknown device model \"Nope\"; the definition document holds "
                                              "Lumostrel, Orb 26, Quillbox"))
            << outcome.output;
    }

    const auto folder = vfu::test::createTemporaryFolder ("vfu-usage-folder");
    for (auto arguments :
         { juce::StringArray{ "check-definitions", folder.getFullPathName() },
           juce::StringArray{ "run", "--simulate", "quillbox", "--definitions", folder.getFullPathName() } })
    {
        const auto outcome = runVfu (arguments);
        EXPECT_EQ (outcome.exitCode, 2) << arguments.joinIntoString (" ");
        EXPECT_TRUE (outcome.output.contains (folder.getFullPathName() + " is a folder, not a definition document"))
            << outcome.output;
    }
}

TEST (VfuUsage, run_and_update_name_each_rejected_package_with_its_reason_before_saying_none_was_found)
{
    const auto folder = vfu::test::createTemporaryFolder ("vfu-usage-packages");
    const auto notes = folder.getChildFile ("notes.txt");
    ASSERT_TRUE (notes.replaceWithText ("not a package"));
    const auto truncated = folder.getChildFile ("quillbox-fw-2.2.1.vfw");
    const auto package = vfu::DeliveredPackage::createPackage();
    ASSERT_TRUE (truncated.replaceWithData (package.getData(), package.getSize() / 2));

    // update fails the same way, before it opens any port.
    for (auto command : { juce::StringArray{ "run", "--simulate", "quillbox" }, juce::StringArray{ "update" } })
    {
        command.addArray ({ "--package", notes.getFullPathName(), "--package", truncated.getFullPathName() });
        const auto outcome = runVfu (command);
        EXPECT_EQ (outcome.exitCode, 1) << command[0];
        const auto notesLine =
            outcome.output.indexOf ("Package not accepted: " + notes.getFullPathName() + ": not a ZIP archive");
        const auto truncatedLine =
            outcome.output.indexOf ("Package not accepted: " + truncated.getFullPathName() + ": ");
        const auto verdict = outcome.output.indexOf ("No firmware file was found.");
        EXPECT_GE (notesLine, 0) << outcome.output;
        EXPECT_GT (truncatedLine, notesLine) << outcome.output;
        EXPECT_GT (verdict, truncatedLine) << outcome.output;
    }
}

TEST (VfuUsage, verify_prints_json_results_on_standard_output_and_errors_elsewhere)
{
    const auto folder = vfu::test::createTemporaryFolder ("vfu-usage-verify");
    const auto good = folder.getChildFile ("quillbox-fw-2.2.1.vfw");
    const auto package = vfu::DeliveredPackage::createPackage();
    ASSERT_TRUE (good.replaceWithData (package.getData(), package.getSize()));
    const auto notes = folder.getChildFile ("notes.vfw");
    ASSERT_TRUE (notes.replaceWithText ("not a package"));

    const auto outcome = runVfu ({ "verify", "--json", good.getFullPathName(), notes.getFullPathName() }, 120000, true);
    EXPECT_EQ (outcome.exitCode, 1);
    const auto result = juce::JSON::parse (outcome.output);
    const auto* packages = result["packages"].getArray();
    ASSERT_NE (packages, nullptr) << outcome.output;
    ASSERT_EQ (packages->size(), 2) << outcome.output;
    EXPECT_TRUE ((bool) (*packages)[0]["accepted"]);
    EXPECT_EQ ((*packages)[0]["version"].toString(), "2.2.1");
    EXPECT_FALSE ((bool) (*packages)[1]["accepted"]);
    EXPECT_EQ ((*packages)[1]["reason"].toString(), "not a ZIP archive");
    EXPECT_FALSE (outcome.output.contains ("refused")) << "the failure goes to standard error";

    // A graph asked of a rejected document says why on standard error only.
    const auto broken = folder.getChildFile ("StateMachines.xml");
    ASSERT_TRUE (broken.replaceWithText ("<FirmwareUpdaters><FirmwareUpdater"));
    const auto graph = runVfu ({ "graph", broken.getFullPathName() }, 120000, true);
    EXPECT_EQ (graph.exitCode, 1);
    EXPECT_EQ (graph.output, "");
}
