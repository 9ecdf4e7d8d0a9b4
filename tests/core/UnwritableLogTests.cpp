// A log that cannot be written: the folder's place is taken by a regular file, or the log file's
// place by a folder. Permission bits do not stop root, so the blocking entries are of the wrong kind.
#include "core/Log.h"

#include <gtest/gtest.h>

namespace
{
class UnwritableLogTest : public testing::Test
{
protected:
    void SetUp() override
    {
        closeLog();
        getLogFile().getParentDirectory().deleteRecursively();
    }

    void TearDown() override
    {
        closeLog();
        auto folder = getLogFile().getParentDirectory();
        folder.deleteRecursively();
        folder.deleteFile();
    }
};
} // namespace

TEST_F (UnwritableLogTest, a_file_where_the_log_folder_belongs_is_left_alone_and_writing_goes_on)
{
    const auto folder = getLogFile().getParentDirectory();
    ASSERT_TRUE (folder.getParentDirectory().createDirectory());
    ASSERT_TRUE (folder.replaceWithText ("not a folder"));

    openLog();
    writeLog ("a line with nowhere to go");
    writeLog ("shutdown");
    closeLog();

    EXPECT_TRUE (folder.existsAsFile());
    EXPECT_EQ (folder.loadFileAsString(), "not a folder");
    EXPECT_FALSE (isLogOpen());
}

TEST_F (UnwritableLogTest, a_folder_where_the_log_file_belongs_is_left_alone_and_writing_goes_on)
{
    ASSERT_TRUE (getLogFile().createDirectory());

    openLog();
    writeLog ("a line with nowhere to go");
    closeLog();

    EXPECT_TRUE (getLogFile().isDirectory());
    // Reopening after the folder is gone works normally.
    ASSERT_TRUE (getLogFile().deleteRecursively());
    openLog();
    writeLog ("back");
    closeLog();
    EXPECT_TRUE (getLogFile().loadFileAsString().contains (" - back"));
}
