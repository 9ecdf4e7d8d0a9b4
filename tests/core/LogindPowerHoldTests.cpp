// The logind lock against a real D-Bus daemon with logind mocked (python3-dbusmock's template) on a
// private bus given as the system bus; and what happens without a bus or without logind.
#include "core/Environment.h"
#include "core/Log.h"
#include "core/PowerHold.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#if JUCE_LINUX
#include <systemd/sd-bus.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <optional>
#include <thread>

namespace
{
struct Inhibitor
{
    juce::String what, who, why, mode;
};

// logind's list of locks on the bus DBUS_SYSTEM_BUS_ADDRESS names; nothing when it cannot be asked.
std::optional<std::vector<Inhibitor>> listInhibitors()
{
    sd_bus* bus = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    std::optional<std::vector<Inhibitor>> result;

    if (sd_bus_open_system (&bus) >= 0 && sd_bus_set_method_call_timeout (bus, 2000000) >= 0 &&
        sd_bus_call_method (bus, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                            "ListInhibitors", &error, &reply, "") >= 0 &&
        sd_bus_message_enter_container (reply, 'a', "(ssssuu)") >= 0)
    {
        result.emplace();
        const char *what, *who, *why, *mode;
        uint32_t uid, pid;
        while (sd_bus_message_read (reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0)
            result->push_back ({ what, who, why, mode });
    }

    sd_bus_error_free (&error);
    sd_bus_message_unref (reply);
    sd_bus_close_unref (bus);
    return result;
}

bool waitFor (const std::function<bool()>& condition, int timeoutMs)
{
    for (const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;;)
    {
        if (condition())
            return true;
        if (juce::Time::getMillisecondCounter() > end)
            return false;
        juce::Thread::sleep (50);
    }
}

// A private dbus-daemon made the system bus of this process, optionally with dbusmock's logind on it.
class PrivateSystemBus
{
public:
    explicit PrivateSystemBus (bool withLogind)
    {
        juce::ChildProcess daemon;
        if (!daemon.start ({ "dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1" }))
            return;

        juce::StringArray lines;
        lines.addLines (daemon.readAllProcessOutput().trim());
        if (lines.size() < 2 || !lines[0].startsWith ("unix:"))
            return;

        daemonPid = lines[1].getIntValue();
        vfu::setEnvironmentVariable ("DBUS_SYSTEM_BUS_ADDRESS", lines[0]);
        // Debian's own Python, which has the package, whatever python3 comes first on the PATH.
        if (withLogind &&
            logind.start ({ "/usr/bin/python3", "-m", "dbusmock", "--template", "logind", "--system" }, 0))
            ready = waitFor ([] { return listInhibitors().has_value(); }, 30000);
        else
            ready = !withLogind;
    }

    ~PrivateSystemBus()
    {
        logind.kill();
        if (daemonPid > 0)
            ::kill (daemonPid, SIGTERM);
        vfu::removeEnvironmentVariable ("DBUS_SYSTEM_BUS_ADDRESS");
    }

    bool ready = false;

private:
    juce::ChildProcess logind;
    int daemonPid = 0;
};

constexpr const char* missingTools = "needs dbus-daemon (package dbus) and /usr/bin/python3 with python3-dbusmock; "
                                     "scripts/test.sh installs them";

juce::String notHeldOffLine (const vfu::LogCollector& log)
{
    for (auto& line : log.getLines())
        if (line.startsWith ("Sleep and shutdown are not held off"))
            return line;

    return {};
}
} // namespace

TEST (LogindPowerHold, logind_lists_the_lock_while_it_is_held_and_none_once_it_is_destroyed_on_another_thread)
{
    PrivateSystemBus bus (true);
    ASSERT_TRUE (bus.ready) << missingTools;

    vfu::LogCollector log;
    auto hold = vfu::holdOffSleepAndShutdown ("QuillboxFirmwareUpdater", "Firmware update in progress");
    ASSERT_NE (hold, nullptr) << log.getLines().joinIntoString ("\n");

    const auto held = listInhibitors();
    ASSERT_TRUE (held.has_value());
    ASSERT_EQ (held->size(), 1u);
    EXPECT_EQ (held->front().what, "sleep:idle:shutdown:handle-lid-switch");
    EXPECT_EQ (held->front().who, "QuillboxFirmwareUpdater");
    EXPECT_EQ (held->front().why, "Firmware update in progress");
    EXPECT_EQ (held->front().mode, "block");

    std::thread ([&hold] { hold.reset(); }).join();
    EXPECT_TRUE (waitFor ([] { return listInhibitors().value_or (std::vector<Inhibitor> (1)).empty(); }, 10000));
}

TEST (LogindPowerHold, without_a_bus_or_without_logind_logs_why_and_holds_nothing)
{
    vfu::LogCollector log;
    {
        SCOPED_TRACE ("no bus at the address");
        const auto missing = vfu::test::createTemporaryFolder ("no-bus").getChildFile ("socket");
        vfu::setEnvironmentVariable ("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + missing.getFullPathName());
        EXPECT_EQ (vfu::holdOffSleepAndShutdown ("vfu", "Firmware update in progress"), nullptr);
        EXPECT_TRUE (notHeldOffLine (log).startsWith ("Sleep and shutdown are not held off: no system bus ("))
            << notHeldOffLine (log);
        vfu::removeEnvironmentVariable ("DBUS_SYSTEM_BUS_ADDRESS");
    }
    {
        SCOPED_TRACE ("a bus that accepts the connection and never answers");
        const auto path = vfu::test::createTemporaryFolder ("silent-bus").getChildFile ("socket").getFullPathName();
        const int listener = ::socket (AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy (address.sun_path, path.toRawUTF8(), sizeof (address.sun_path) - 1);
        ASSERT_EQ (::bind (listener, reinterpret_cast<sockaddr*> (&address), sizeof (address)), 0);
        ASSERT_EQ (::listen (listener, 4), 0);
        vfu::setEnvironmentVariable ("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + path);

        log.clear();
        const auto started = juce::Time::getMillisecondCounter();
        EXPECT_EQ (vfu::holdOffSleepAndShutdown ("vfu", "Firmware update in progress"), nullptr);
        std::cout << "a silent bus gave up after " << juce::Time::getMillisecondCounter() - started << " ms\n";
        EXPECT_TRUE (notHeldOffLine (log).startsWith ("Sleep and shutdown are not held off: no system bus ("))
            << notHeldOffLine (log);
        ::close (listener);
        vfu::removeEnvironmentVariable ("DBUS_SYSTEM_BUS_ADDRESS");
    }
    {
        SCOPED_TRACE ("a bus without logind");
        PrivateSystemBus bus (false);
        ASSERT_TRUE (bus.ready) << missingTools;
        log.clear();
        EXPECT_EQ (vfu::holdOffSleepAndShutdown ("vfu", "Firmware update in progress"), nullptr);
        EXPECT_TRUE (
            notHeldOffLine (log).startsWith ("Sleep and shutdown are not held off: logind refused or is absent ("))
            << notHeldOffLine (log);
        EXPECT_TRUE (notHeldOffLine (log).contains ("org.freedesktop.login1")) << notHeldOffLine (log);
    }
}
#endif
