#include "TestEnvironment.h"
#include "core/Environment.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

namespace vfu::test
{
namespace
{
juce::File& temporaryHome()
{
    static juce::File home;
    return home;
}
} // namespace

juce::File getTemporaryHome()
{
    return temporaryHome();
}

juce::File createTemporaryFolder (const juce::String& prefix)
{
    auto folder = temporaryHome().getChildFile (prefix).getNonexistentSibling (true);
    folder.createDirectory();
    return folder;
}

juce::File getTestDataFolder()
{
    return juce::File (VFU_TEST_DATA_DIR);
}
} // namespace vfu::test

int main (int argc, char** argv)
{
    // A fresh home (and application-data folder) before JUCE or the tests look at the user's folders.
    auto home =
        juce::File::getSpecialLocation (juce::File::tempDirectory)
            .getChildFile ("vfu-test-home-" + juce::String::toHexString (juce::Random::getSystemRandom().nextInt64()));
    home.createDirectory();
    home.getChildFile ("Desktop").createDirectory();
    vfu::test::temporaryHome() = home;

    vfu::moveUserFoldersInto (home);

    testing::InitGoogleTest (&argc, argv);

    int result = 0;
    {
        juce::ScopedJuceInitialiser_GUI juce;
        result = RUN_ALL_TESTS();
    }

    home.deleteRecursively();
    return result;
}
