// A package whose image is not the one the model's machine sends: vfu packages --device rejects it
// with the reason, and vfu run never reaches the erase with it.
#include "support/TestEnvironment.h"
#include "vfu/VfuProcess.h"

#include <gtest/gtest.h>

namespace
{
using Outcome = vfu::test::VfuRun;
using vfu::test::runVfu;

} // namespace

TEST (VfuWholePackage, a_package_without_the_models_image_is_rejected_for_that_device_and_never_erases)
{
    const auto folder = vfu::test::createTemporaryFolder ("vfu-whole-package");
    const auto path = [&] (const juce::String& name) { return folder.getChildFile (name).getFullPathName(); };

    // The Lumostrel's machine sends "lmstr-fw-$(version)"; the image named after the model is not it.
    for (auto imageName : { "lumostrel-fw-1.4.2", "lmstr-fw-1.4.3" })
    {
        const juce::String name (imageName);
        const auto version = name.fromLastOccurrenceOf ("-", false, false);
        ASSERT_EQ (runVfu ({ "make-image", "--model", "lumostrel", "--version", version, "--size", "1000", "-o",
                             path (name + ".syx") })
                       .exitCode,
                   0);
        ASSERT_EQ (runVfu ({ "pack", "--name", "lumostrel-fw-" + version, "-o",
                             path ("lumostrel-fw-" + version + ".vfw"), path (name + ".syx") })
                       .exitCode,
                   0);
    }
    const auto wrong = path ("lumostrel-fw-1.4.2.vfw"), right = path ("lumostrel-fw-1.4.3.vfw");

    const auto packages = runVfu ({ "packages", "--device", "Lumostrel", wrong, right });
    EXPECT_EQ (packages.exitCode, 0) << packages.output;
    EXPECT_TRUE (packages.output.contains ("\"reason\": \"required image missing: lmstr-fw-1.4.2.syx\""))
        << packages.output;
    EXPECT_TRUE (packages.output.contains ("\"version\": \"1.4.3\"")) << packages.output;
    EXPECT_FALSE (packages.output.contains ("\"version\": \"1.4.2\"")) << packages.output;

    // Without a device nothing says which images are needed: both pass the package check.
    EXPECT_TRUE (runVfu ({ "packages", wrong }).output.contains ("\"version\": \"1.4.2\""));

    const auto run = runVfu ({ "run", "--simulate", "lumostrel:1.0.9", "--device", "Lumostrel", "--package", wrong });
    EXPECT_NE (run.exitCode, 0) << run.output;
    EXPECT_FALSE (run.output.contains ("Firmware erase")) << run.output;
}
