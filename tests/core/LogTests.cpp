#include "core/Log.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace
{
juce::StringArray readLogLines()
{
    juce::StringArray lines;
    lines.addLines (getLogFile().loadFileAsString());
    lines.removeEmptyStrings();
    return lines;
}

class LogTest : public testing::Test
{
protected:
    void SetUp() override
    {
        closeLog();
        getLogFile().getParentDirectory().deleteRecursively();
    }

    void TearDown() override { closeLog(); }
};
} // namespace

TEST_F (LogTest, first_run_creates_the_folder_and_the_file_with_the_banner)
{
    ASSERT_FALSE (getLogFile().exists());

    openLog();
    writeLog ("hello");
    closeLog();

    EXPECT_EQ (getLogFile().getParentDirectory().getFileName(), "Vorn Firmware Updater");
    EXPECT_EQ (getLogFile().getFileName(), "vfu-quillbox.log");
    EXPECT_TRUE (getLogFile().getParentDirectory().isAChildOf (vfu::test::getTemporaryHome()));

    const auto text = getLogFile().loadFileAsString();
    EXPECT_TRUE (text.contains ("Vorn Firmware Updater for Quillbox v2.2.0"));
}

TEST_F (LogTest, every_line_carries_the_local_time_prefix)
{
    openLog();
    writeLog ("shutdown");
    closeLog();

    const auto lines = readLogLines();
    ASSERT_FALSE (lines.isEmpty());
    const auto last = lines[lines.size() - 1];

    // 2017-05-10T14:03:59 - shutdown
    ASSERT_EQ (last.length(), 19 + 3 + 8);
    EXPECT_TRUE (last.endsWith (" - shutdown"));
    EXPECT_TRUE (last.substring (0, 19).containsOnly ("0123456789-T:"));
    EXPECT_EQ (last[4], '-');
    EXPECT_EQ (last[10], 'T');
    EXPECT_EQ (last[13], ':');
}

TEST_F (LogTest, a_later_run_appends_after_a_new_banner)
{
    openLog();
    writeLog ("first run");
    closeLog();

    openLog();
    writeLog ("second run");
    closeLog();

    const auto text = getLogFile().loadFileAsString();
    const auto firstLine = text.indexOf ("first run");
    const auto secondBanner = text.indexOf (firstLine, "Vorn Firmware Updater for Quillbox v2.2.0");
    EXPECT_GE (firstLine, 0);
    EXPECT_GT (secondBanner, firstLine);
    EXPECT_GT (text.indexOf ("second run"), secondBanner);
}

TEST_F (LogTest, a_log_above_one_mebibyte_is_cut_to_its_last_mebibyte_at_a_line_boundary)
{
    getLogFile().getParentDirectory().createDirectory();
    {
        juce::FileOutputStream out (getLogFile());
        ASSERT_TRUE (out.openedOk());
        for (int i = 0; i < 60000; ++i)
            out << "old line number " << juce::String (i).paddedLeft ('0', 8) << "\n";
    }
    ASSERT_GT (getLogFile().getSize(), 1048576);

    openLog();
    closeLog();

    const auto text = getLogFile().loadFileAsString();
    EXPECT_LE (getLogFile().getSize(), 1048576 + 4096);
    EXPECT_TRUE (text.trimStart().startsWith ("old line number ")) << text.substring (0, 40);
    EXPECT_TRUE (text.contains ("old line number 00059999"));
    EXPECT_FALSE (text.contains ("old line number 00000000\n"));
}

TEST_F (LogTest, nothing_is_written_once_the_log_is_closed)
{
    openLog();
    writeLog ("shutdown");
    closeLog();
    writeLog ("too late");

    EXPECT_FALSE (isLogOpen());
    EXPECT_FALSE (getLogFile().loadFileAsString().contains ("too late"));
    EXPECT_TRUE (readLogLines()[readLogLines().size() - 1].endsWith ("shutdown"));
}

TEST_F (LogTest, threads_logging_while_the_log_closes_never_reach_a_deleted_logger)
{
    for (int round = 0; round < 20; ++round)
    {
        openLog();

        std::atomic<bool> stop{ false };
        std::vector<std::thread> writers;
        for (int t = 0; t < 4; ++t)
            writers.emplace_back (
                [&stop, t]
                {
                    while (!stop)
                        writeLog ("writer " + juce::String (t));
                });

        juce::Thread::sleep (2);
        closeLog();
        juce::Thread::sleep (1);
        openLog();
        closeLog();
        stop = true;

        for (auto& w : writers)
            w.join();
    }

    // Every line that made it into the file is whole: time prefix and text.
    // "?\?" keeps the compiler from reading "??-" as a trigraph (the pattern is ????-??-??T...).
    for (const auto& line : readLogLines())
    {
        if (line.contains ("writer "))
        {
            EXPECT_TRUE (line.matchesWildcard ("???\?-?\?-??T??:??:?? - writer ?", false)) << line;
        }
    }
}

TEST_F (LogTest, observers_see_lines_without_the_prefix_even_without_a_log_file)
{
    vfu::LogCollector collector;
    writeLog ("Scan all ports");

    EXPECT_TRUE (collector.contains ("Scan all ports"));
    EXPECT_FALSE (getLogFile().exists());
}
