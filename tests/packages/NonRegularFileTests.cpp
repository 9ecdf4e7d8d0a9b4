// A *.vfw that is a named pipe or a link to a device: skipped by name, never opened, so collection
// cannot wait for a writer that never comes.
#include "PackageTestSupport.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#if !JUCE_WINDOWS
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <map>

using vfu::FirmwarePackageStore;

namespace
{
// Collects on another thread. Should an open wait on the pipe, a writer opened here lets it go on,
// so a fault fails the test instead of hanging it.
std::map<juce::String, juce::String> collectReasons (const juce::File& program, const juce::Array<juce::File>& paths,
                                                     const juce::File& pipe, FirmwarePackageStore& store)
{
    auto collected = std::async (std::launch::async, [&] { store.collect (program, paths); });
    if (collected.wait_for (std::chrono::seconds (10)) != std::future_status::ready)
    {
        ADD_FAILURE() << "collection waited on the named pipe";
        while (collected.wait_for (std::chrono::milliseconds (100)) != std::future_status::ready)
            if (const auto writer = ::open (pipe.getFullPathName().toRawUTF8(), O_WRONLY | O_NONBLOCK); writer >= 0)
                ::close (writer);
    }

    std::map<juce::String, juce::String> reasons;
    for (auto& finding : store.getFindings())
        reasons[finding.source] = finding.reason;

    return reasons;
}
} // namespace

TEST (NonRegularFiles, a_named_pipe_and_a_link_to_a_device_are_skipped_with_a_reason_in_a_folder_or_named_alone)
{
    using namespace vfu::test::packages;
    const auto folder = vfu::test::createTemporaryFolder ("desktop");
    writeFile (folder.getChildFile ("good.vfw"),
               makePackage ("quillbox-fw-2.2.1", "quillbox-fw-2.2.1.syx", makeImage (1)));
    const auto pipe = folder.getChildFile ("pipe.vfw");
    const auto zero = folder.getChildFile ("zero.vfw");
    ASSERT_EQ (::mkfifo (pipe.getFullPathName().toRawUTF8(), 0600), 0);
    ASSERT_TRUE (juce::File ("/dev/zero").createSymbolicLink (zero, true));

    {
        FirmwarePackageStore store;
        auto reasons = collectReasons ({}, { folder }, pipe, store);
        EXPECT_EQ (store.getFirmwareVersions(), juce::StringArray ("2.2.1"));
        EXPECT_EQ (reasons[pipe.getFullPathName()], "a named pipe");
        EXPECT_EQ (reasons[zero.getFullPathName()], "a link to a device");
    }
    {
        // As the program file and as paths given one by one (vfu packages --program PIPE PIPE LINK).
        FirmwarePackageStore store;
        auto reasons = collectReasons (pipe, { pipe, zero }, pipe, store);
        EXPECT_TRUE (store.getFirmwareVersions().isEmpty());
        ASSERT_EQ (store.getFindings().size(), 3u);
        EXPECT_EQ (reasons[pipe.getFullPathName()], "a named pipe");
        EXPECT_EQ (reasons[zero.getFullPathName()], "a link to a device");
    }
}
#endif
