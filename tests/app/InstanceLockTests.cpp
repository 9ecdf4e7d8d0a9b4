// The name of the lock that lets one copy of the app run at a time.
#include "app/VornFirmwareUpdaterApplication.h"

#include <gtest/gtest.h>

TEST (InstanceLock, without_a_private_name_is_the_lock_that_JUCE_and_earlier_builds_take)
{
    // JUCEApplicationBase names its single-instance lock "juceAppLock_" + the application name; a
    // copy of an earlier build (which used JUCE's check) and this one must exclude each other.
    EXPECT_EQ (VornFirmwareUpdaterApplication::getInstanceLockName ("Quillbox Firmware Updater", {}),
               "juceAppLock_Quillbox Firmware Updater");
}

TEST (InstanceLock, a_private_name_gives_a_lock_of_its_own)
{
    const auto shared = VornFirmwareUpdaterApplication::getInstanceLockName ("Quillbox Firmware Updater", {});
    const auto first =
        VornFirmwareUpdaterApplication::getInstanceLockName ("Quillbox Firmware Updater", "window-test-1");
    const auto second =
        VornFirmwareUpdaterApplication::getInstanceLockName ("Quillbox Firmware Updater", "window-test-2");

    EXPECT_NE (first, shared);
    EXPECT_NE (first, second);
    EXPECT_EQ (first,
               VornFirmwareUpdaterApplication::getInstanceLockName ("Quillbox Firmware Updater", "window-test-1"));
}
