// Environment variables set and removed through the core helpers, as JUCE then reads them, and the
// application-data folder that the test main moved below the temporary home.
#include "core/Environment.h"
#include "core/Log.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

TEST (Environment, a_set_variable_is_seen_by_juce_and_a_removed_one_is_gone)
{
    const juce::String name ("VFU_ENVIRONMENT_TEST");
    vfu::setEnvironmentVariable (name, "first value");
    EXPECT_EQ (juce::SystemStats::getEnvironmentVariable (name, "unset"), "first value");

    vfu::setEnvironmentVariable (name, "second");
    EXPECT_EQ (juce::SystemStats::getEnvironmentVariable (name, "unset"), "second");

    vfu::removeEnvironmentVariable (name);
    EXPECT_EQ (juce::SystemStats::getEnvironmentVariable (name, "unset"), "unset");
}

TEST (Environment, the_application_data_folder_and_the_log_lie_in_the_moved_home)
{
    const auto home = vfu::test::getTemporaryHome();
    EXPECT_TRUE (vfu::getApplicationDataFolder().isAChildOf (home))
        << vfu::getApplicationDataFolder().getFullPathName();
    EXPECT_TRUE (getLogFile().isAChildOf (vfu::getApplicationDataFolder()));
}
