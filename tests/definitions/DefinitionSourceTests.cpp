// Where the application's definition document comes from.

#include "DefinitionDocuments.h"

#include "support/TestEnvironment.h"
#include "core/Log.h"
#include "definitions/DefinitionSource.h"

#include <gtest/gtest.h>

#if !JUCE_WINDOWS
#include <sys/stat.h>
#endif

using namespace vfu::test;
using vfu::definitions::createFirmwareUpdaterForApplication;

namespace
{
std::unique_ptr<FirmwareUpdater> createFor (const juce::File& executableFolder)
{
    return createFirmwareUpdaterForApplication (executableFolder, "Quillbox", nullptr, {}, withoutProgramArchive());
}

juce::String rejectionFor (const juce::File& executableFolder)
{
    try
    {
        createFor (executableFolder);
        return "accepted";
    }
    catch (const FirmwareUpdater::FirmwareUpdaterException& e)
    {
        return e.message;
    }
}

// A Quillbox definition that differs from the inbuilt one, so the tests can tell which was loaded.
const juce::String fileDefinition = document (updaterElement ({ { "MIDIDeviceID", "0042" } }));
} // namespace

TEST (DefinitionSource, uses_the_inbuilt_document_when_no_file_stands_beside_the_executable)
{
    const auto folder = createTemporaryFolder ("exe");
    folder.getParentDirectory().getChildFile ("StateMachines.xml").replaceWithText (fileDefinition);
    vfu::LogCollector log;

    const auto updater = createFor (folder);

    EXPECT_EQ (updater->getMidiDeviceId(), 8);
    EXPECT_EQ (updater->getMachine()->states.size(), 13u);
    EXPECT_FALSE (updater->getConsoleMode());
    EXPECT_EQ (log.getLines(), juce::StringArray ("Using inbuilt state machine definitions"));

    folder.getParentDirectory().getChildFile ("StateMachines.xml").deleteFile();
}

TEST (DefinitionSource, uses_StateMachines_xml_beside_the_executable_and_logs_its_path)
{
    const auto folder = createTemporaryFolder ("exe");
    const auto file = folder.getChildFile ("StateMachines.xml");
    ASSERT_TRUE (file.replaceWithText (fileDefinition));
    vfu::LogCollector log;

    const auto updater = createFor (folder);

    EXPECT_EQ (updater->getMidiDeviceId(), 0x42);
    EXPECT_EQ (log.getLines(), juce::StringArray ("Using state machine definition in " + file.getFullPathName()));
}

TEST (DefinitionSource, does_not_fall_back_to_the_inbuilt_document_for_a_bad_file)
{
    const auto folder = createTemporaryFolder ("exe");
    folder.getChildFile ("StateMachines.xml").replaceWithText (updaterElement());
    vfu::LogCollector log;

    EXPECT_EQ (rejectionFor (folder), "<FirmwareUpdaters> must be the root element.\n\nThe app will quit.");
    EXPECT_TRUE (log.getLines().isEmpty());
}

TEST (DefinitionSource, reads_a_folder_named_StateMachines_xml_and_rejects_it)
{
    const auto folder = createTemporaryFolder ("exe");
    ASSERT_TRUE (folder.getChildFile ("StateMachines.xml").createDirectory());

    EXPECT_EQ (rejectionFor (folder), "<FirmwareUpdaters> must be the root element.\n\nThe app will quit.");
}

TEST (DefinitionSource, matches_the_file_name_exactly)
{
    const auto folder = createTemporaryFolder ("exe");
    folder.getChildFile ("statemachines.xml").replaceWithText (fileDefinition);

    // On a case-sensitive file system the other spelling is not the definition file.
    if (!folder.getChildFile ("StateMachines.xml").exists())
    {
        EXPECT_EQ (createFor (folder)->getMidiDeviceId(), 8);
    }
}

TEST (DefinitionSource, searches_the_executable_folder_and_then_the_desktop_for_firmware)
{
    const auto folder = createTemporaryFolder ("exe");
    const auto folders = vfu::definitions::getFirmwareSearchFolders (folder);

    ASSERT_EQ (folders.size(), 2);
    EXPECT_EQ (folders[0], folder);
    EXPECT_EQ (folders[1], juce::File::getSpecialLocation (juce::File::userDesktopDirectory));
    EXPECT_EQ (vfu::definitions::getExecutableFolder(),
               juce::File::getSpecialLocation (juce::File::currentExecutableFile).getParentDirectory());
}

TEST (DefinitionSource, loads_an_authored_file_with_byte_order_mark_comments_and_a_second_device)
{
    const auto folder = createTemporaryFolder ("exe");
    const auto fixture = getTestDataFolder().getChildFile ("definitions/two-devices.xml");
    ASSERT_TRUE (fixture.copyFileTo (folder.getChildFile ("StateMachines.xml")));

    const auto updater = createFor (folder);
    const auto& idle = stateOf (*updater, "Idle");
    const auto& found = stateOf (*updater, "Found");

    EXPECT_EQ (updater->getTimeout(), 30);
    EXPECT_EQ (updater->getMachine()->states.size(), 2u);
    EXPECT_EQ (idle.getAttribute ("description"), "waiting for the instrument");
    EXPECT_EQ (idle.instructions.size(), 3u);
    EXPECT_EQ (idle.pollingStates, (FirmwareUpdater::PollingStateList{ { DeviceDetected, "Found" } }));
    EXPECT_EQ (found.pollingStates, (FirmwareUpdater::PollingStateList{ { NoDevice, "Idle" } }));

    const auto* instructions = instructionAt<FirmwareUpdater::State::TextFieldInstruction> (idle.instructions, 1);
    ASSERT_NE (instructions, nullptr);
    EXPECT_EQ (instructions->text.trim(), "Connect the Quillbox & power it on.");
}

TEST (DefinitionSource, refuses_a_definition_file_that_is_not_a_regular_file_or_is_too_large)
{
    const auto folder = createTemporaryFolder ("exe");
    const auto file = folder.getChildFile ("StateMachines.xml");
    ASSERT_TRUE (file.replaceWithText (fileDefinition + juce::String::repeatedString (" ", 9 * 1024 * 1024)));
    EXPECT_EQ (rejectionFor (folder),
               "The definition document '" + file.getFullPathName() + "' is larger than 8 MB.\n\nThe app will quit.");

#if !JUCE_WINDOWS
    // A FIFO would block the read until a writer comes; a device never ends.
    ASSERT_TRUE (file.deleteFile());
    ASSERT_EQ (mkfifo (file.getFullPathName().toRawUTF8(), 0600), 0);
    EXPECT_EQ (rejectionFor (folder),
               "The definition document '" + file.getFullPathName() + "' is not a regular file.\n\nThe app will quit.");

    try
    {
        FirmwareUpdater updater (juce::File ("/dev/zero"), "Quillbox", false, nullptr, {}, withoutProgramArchive());
        ADD_FAILURE() << "accepted";
    }
    catch (const FirmwareUpdater::FirmwareUpdaterException& e)
    {
        EXPECT_EQ (e.message, "The definition document '/dev/zero' is not a regular file.\n\nThe app will quit.");
    }
#endif
}
